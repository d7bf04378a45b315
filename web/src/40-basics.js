(function () {
'use strict';

const {DASH, IPINFO_HOST, S, byId, chip, esc, post, startRun, t, wire} = TV;

// ---------------------------------------------------------------------------
// Basic test
// ---------------------------------------------------------------------------

function startBasics() {
  if (S.cur) return;
  S.basics = [];
  S.ipinfo = null;
  byId('bsBody').innerHTML = '';
  byId('bsInfo').classList.add('hidden');
  const id = startRun('basics', 13 + TV.DNS_NET_ROWS, 'bs');
  post('basics', id, byId('bsTimeout').value);
}

function netRowHtml(n) {
  // The group names and the interception note are the native side's Russian.
  const detail = n.detail ? wire(n.detail) : n.detail;
  return '<tr><td><span class="gtag">' + esc(wire(n.group)) + '</span></td><td>' + esc(n.name) + '</td><td>' +
    chip(n.state, -1, detail) + TV.dnsNetMark(n) + '</td><td>' +
    (n.ms >= 0 ? '<span class="mono">' + esc(n.ms) + '</span>' : DASH) + '</td><td>' +
    (n.detail ? '<span class="mut mono">' + esc(detail) + '</span>' : '') + '</td></tr>';
}

function showIpInfo(body) {
  let o = null;
  try { o = JSON.parse(body); } catch (e) { o = null; }
  if (o && typeof o === 'object' && o.status === 'success') {
    S.ipinfo = {ip: o.query, isp: o.isp, org: o.org, as: o.as, city: o.city, country: o.country};
  } else {
    S.ipinfo = {error: true};
  }
  renderIpInfo();
}

function renderIpInfo() {
  const ii = S.ipinfo;
  if (!ii) return;
  const card = byId('bsInfo');
  card.classList.remove('hidden');
  if (!ii.error) {
    card.innerHTML = '<b>' + esc(t('ip.you')) + '</b> <span class="mono">' + esc(ii.ip) + '</span> · ' +
      esc(ii.isp) + ' · ' + esc(ii.as) + ' · ' + esc(ii.city) + ', ' + esc(ii.country);
  } else {
    card.innerHTML = '<b>' + esc(t('ip.fail')) + '</b> <span class="mut">' + esc(t('ip.failWhy', IPINFO_HOST)) + '</span>';
  }
}

// The basic test's rows and card, drawn again in the chosen language.
function renderBasics() {
  byId('bsBody').innerHTML = S.basics.map(netRowHtml).join('');
  renderIpInfo();
}

Object.assign(TV, {netRowHtml, renderBasics, showIpInfo, startBasics});
})();

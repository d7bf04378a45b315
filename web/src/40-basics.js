(function () {
'use strict';

const {DASH, IPINFO_HOST, S, byId, chip, esc, post, startRun} = TV;

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
  return '<tr><td><span class="gtag">' + esc(n.group) + '</span></td><td>' + esc(n.name) + '</td><td>' +
    chip(n.state, -1, n.detail) + TV.dnsNetMark(n) + '</td><td>' +
    (n.ms >= 0 ? '<span class="mono">' + esc(n.ms) + '</span>' : DASH) + '</td><td>' +
    (n.detail ? '<span class="mut mono">' + esc(n.detail) + '</span>' : '') + '</td></tr>';
}

function showIpInfo(body) {
  const card = byId('bsInfo');
  card.classList.remove('hidden');
  let o = null;
  try { o = JSON.parse(body); } catch (e) { o = null; }
  if (o && typeof o === 'object' && o.status === 'success') {
    S.ipinfo = {ip: o.query, isp: o.isp, org: o.org, as: o.as, city: o.city, country: o.country};
    card.innerHTML = '<b>Твой выход в интернет:</b> <span class="mono">' + esc(o.query) + '</span> · ' +
      esc(o.isp) + ' · ' + esc(o.as) + ' · ' + esc(o.city) + ', ' + esc(o.country);
  } else {
    S.ipinfo = {error: true};
    card.innerHTML = '<b>Данные о выходе в интернет получить не удалось.</b> <span class="mut">' +
      IPINFO_HOST + ' недоступен — при белых списках это нормально.</span>';
  }
}

Object.assign(TV, {netRowHtml, showIpInfo, startBasics});
})();

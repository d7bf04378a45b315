(function () {
'use strict';

const {S, byId} = TV;

// ---------------------------------------------------------------------------
// Warnings
// ---------------------------------------------------------------------------

const vpnTxt = () => '<div class="note warn">' + TV.t('warn.vpn.h') + '</div>';

const dnsTxt = () => '<div class="note warn">' + TV.t('warn.dns.h') + '</div>';

function vpnSuspect() {
  const t = [];
  for (const n of S.basics) {
    if (typeof n.group === 'string' && n.group.startsWith('TCP:443') && n.state === 'ok' &&
        typeof n.ms === 'number' && n.ms >= 0) t.push(n.ms);
  }
  for (const r of S.domRows) {
    const x = r.res;
    if (x && x.tcp === 'ok' && typeof x.tcpMs === 'number' && x.tcpMs >= 0 && x.dns !== 'skip') t.push(x.tcpMs);
  }
  if (t.length < 3) return false;
  const fast = t.filter(v => v <= 3).length;
  return fast * 10 >= t.length * 9;
}

function dnsSuspect() {
  const rs = S.domRows.filter(r => r.res && (r.group === 'ru' || r.group === 'cloud' || r.group === 'host'));
  const nx = rs.filter(r => r.res.dns === 'nx').length;
  const ok = rs.filter(r => r.res.dns === 'ok').length;
  return nx >= 3 && ok >= 1;
}

function vpnBanner() {
  const vpn = vpnSuspect();
  byId('domWarn').innerHTML = (vpn ? vpnTxt() : '') + (dnsSuspect() ? dnsTxt() : '') + TV.dnsSpoofWarn();
  byId('bsWarn').innerHTML = (vpn ? vpnTxt() : '') + TV.dnsInterceptWarn();
}

Object.assign(TV, {dnsSuspect, vpnBanner, vpnSuspect});
})();

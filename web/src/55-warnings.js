(function () {
'use strict';

const {S, byId} = TV;

// ---------------------------------------------------------------------------
// Warnings
// ---------------------------------------------------------------------------

const VPN_TXT = '<div class="note warn"><b>Похоже, активен VPN / прокси / TUN.</b> TCP-соединения с внешними адресами ' +
  'устанавливаются за 0–3 мс — так не бывает без локального перехвата трафика. Скан сейчас проверяет твой VPN, ' +
  'а не оператора. <b>Отключи VPN (v2rayN, Hiddify, sing-box и т.п.) и повтори</b>, иначе эталон получится ложным.</div>';

const DNS_TXT = '<div class="note warn"><b>Системный DNS отдаёт «домен не найден» для известных сайтов</b>, а другие ' +
  'домены в это же время резолвятся. Это сбой или фильтрация DNS у оператора, а не блок по IP. Строки с ' +
  '<span class="chip nx">nx</span> не говорят, режется ли сам адрес.</div>';

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
  byId('domWarn').innerHTML = (vpn ? VPN_TXT : '') + (dnsSuspect() ? DNS_TXT : '') + TV.dnsSpoofWarn();
  byId('bsWarn').innerHTML = (vpn ? VPN_TXT : '') + TV.dnsInterceptWarn();
}

Object.assign(TV, {dnsSuspect, vpnBanner, vpnSuspect});
})();

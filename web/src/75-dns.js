(function () {
'use strict';

const {S, esc} = TV;

// ---------------------------------------------------------------------------
// DNS findings: swapped answers of the system resolver (domain rows) and
// intercepted UDP/53 (basic test rows). The words are the native side's
// (probe/dns_forensics.h); the texts live here, one place each.
// ---------------------------------------------------------------------------

const YES = 'yes';

// The basic test's rows after the twelve: DoT and DoH to each of four resolvers.
const DNS_NET_ROWS = 8;

const DNS_T = {
  spoof: 'подмена DNS',
  spoofTip: 'Системный DNS отдал чужой адрес. Шифрованный DNS дал другой, и сертификат на нём настоящий.',
  genuineTip: 'Настоящий адрес: его дал шифрованный DNS, и сертификат на нём проходит проверку.',
  spoofNote: '<b>Подмена DNS.</b> Для части сайтов системный DNS отдаёт чужой адрес (заглушку или блок-страницу): ' +
    'шифрованный DNS дал другой адрес, и там сертификат настоящий. Строки с пометкой «подмена DNS» проверяют ' +
    'заглушку, а не сам сайт.',
  intercept: 'перехват',
  interceptTip: 'На UDP/53 этого адреса отвечает другой резолвер, не тот, что по DoT.',
  interceptNote: '<b>DNS-запросы на UDP/53 перехватывают.</b> Вместо публичного резолвера отвечает сама сеть ' +
    '(обычно DNS оператора): так показал whoami по UDP и по DoT. Ответы строк с пометкой «перехват» пришли ' +
    'не от того резолвера, которого ты спрашивал.',
  interceptList: 'Перехват: ',
  cmpSpoof: 'Подмена DNS',
  cmpIntercept: 'Перехват UDP/53',
  none: 'нет',
  unknown: 'не проверено',
  reportSpoof: 'подмена DNS, настоящий адрес ',
  reportIntercept: 'Перехват UDP/53: '
};

const spoofed = x => !!x && x.dnsSpoof === YES;
const intercepted = n => !!n && n.intercept === YES;

// The mark under a domain row's (or a snapshot entry's) address, with the
// genuine address on a line of its own (the address column is narrow).
function dnsSpoofMark(x) {
  if (!spoofed(x)) return '';
  return '<span class="dnsmark" title="' + esc(DNS_T.spoofTip) + '">' + esc(DNS_T.spoof) + '</span>' +
    '<span class="dnsgen mono" title="' + esc(DNS_T.genuineTip) + '">→ ' + esc(x.dnsGenuine) + '</span>';
}

// The mark beside an intercepted UDP row's state.
function dnsNetMark(n) {
  if (!intercepted(n)) return '';
  return ' <span class="dnsmark" title="' + esc(DNS_T.interceptTip) + '">' + esc(DNS_T.intercept) + '</span>';
}

function dnsSpoofWarn() {
  const rows = S.domRows.filter(r => spoofed(r.res));
  if (!rows.length) return '';
  return '<div class="note bad">' + DNS_T.spoofNote + ' <span class="mono">' +
    rows.map(r => esc(r.host) + ' → ' + esc(r.res.dnsGenuine)).join(', ') + '</span></div>';
}

function dnsInterceptWarn() {
  const names = S.basics.filter(intercepted).map(n => n.name);
  if (!names.length) return '';
  return '<div class="note bad">' + DNS_T.interceptNote + ' ' + esc(DNS_T.interceptList) +
    esc(names.join(', ')) + '.</div>';
}

// A domain entry's keys in a snapshot (undefined ones are left out).
function dnsSnapKeys(x) {
  return {dnsSpoof: x.dnsSpoof, dnsGenuine: x.dnsGenuine, dnsVia: x.dnsVia};
}

function dnsReportDomain(x) {
  if (!spoofed(x)) return '';
  return ' [' + DNS_T.reportSpoof + x.dnsGenuine + (x.dnsVia ? ', ' + x.dnsVia : '') + ']';
}

function dnsReportBasics() {
  const names = S.basics.filter(intercepted).map(n => n.name);
  return names.length ? [DNS_T.reportIntercept + names.join(', ')] : [];
}

// Comparison of two snapshots: the swapped answers and the interception,
// each as a table of its own, shown only when one side has a finding.
function spoofWord(d) {
  if (d.dnsSpoof === YES) return DNS_T.spoof + ' → ' + d.dnsGenuine;
  return d.dnsSpoof === 'fail' ? DNS_T.unknown : DNS_T.none;
}

function interceptWord(n) {
  if (n.intercept === YES) return DNS_T.intercept;
  return n.intercept === 'no' ? DNS_T.none : DNS_T.unknown;
}

function findings(list, key, wordOf, keyOf) {
  const m = new Map();
  let any = false;
  for (const e of Array.isArray(list) ? list : []) {
    if (!e || typeof e !== 'object' || typeof e[key] !== 'string') continue;
    m.set(String(keyOf(e)), wordOf(e));
    any = any || e[key] === YES;
  }
  return {m, any};
}

const findingHtml = w => '<span class="mono">' + esc(w) + '</span>';

function dnsCmpTables(a, b) {
  let h = '';
  const sa = findings(a.domains, 'dnsSpoof', spoofWord, d => d.host);
  const sb = findings(b.domains, 'dnsSpoof', spoofWord, d => d.host);
  if (sa.any || sb.any) h += TV.diffTable(DNS_T.cmpSpoof, sa.m, sb.m, findingHtml);
  const ia = findings(a.basics, 'intercept', interceptWord, n => n.name);
  const ib = findings(b.basics, 'intercept', interceptWord, n => n.name);
  if (ia.any || ib.any) h += TV.diffTable(DNS_T.cmpIntercept, ia.m, ib.m, findingHtml);
  return h;
}

Object.assign(TV, {DNS_NET_ROWS, dnsCmpTables, dnsInterceptWarn, dnsNetMark, dnsReportBasics, dnsReportDomain,
  dnsSnapKeys, dnsSpoofMark, dnsSpoofWarn});
})();

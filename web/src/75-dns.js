(function () {
'use strict';

const {S, esc, t} = TV;

// ---------------------------------------------------------------------------
// DNS findings: swapped answers of the system resolver (domain rows) and
// intercepted UDP/53 (basic test rows). The words are the native side's
// (probe/dns_forensics.h); the texts live here, one place each.
// ---------------------------------------------------------------------------

const YES = 'yes';

// The basic test's rows after the twelve: DoT and DoH to each of four resolvers.
const DNS_NET_ROWS = 8;

// The texts are in the tables (32-texts.js), under "dns.".

const spoofed = x => !!x && x.dnsSpoof === YES;
const intercepted = n => !!n && n.intercept === YES;

// The mark under a domain row's (or a snapshot entry's) address, with the
// genuine address on a line of its own (the address column is narrow).
function dnsSpoofMark(x) {
  if (!spoofed(x)) return '';
  return '<span class="dnsmark" title="' + esc(t('dns.spoofTip')) + '">' + esc(t('dns.spoof')) + '</span>' +
    '<span class="dnsgen mono" title="' + esc(t('dns.genuineTip')) + '">→ ' + esc(x.dnsGenuine) + '</span>';
}

// The mark beside an intercepted UDP row's state.
function dnsNetMark(n) {
  if (!intercepted(n)) return '';
  return ' <span class="dnsmark" title="' + esc(t('dns.interceptTip')) + '">' + esc(t('dns.intercept')) + '</span>';
}

function dnsSpoofWarn() {
  const rows = S.domRows.filter(r => spoofed(r.res));
  if (!rows.length) return '';
  return '<div class="note bad">' + t('dns.spoofNote.h') + ' <span class="mono">' +
    rows.map(r => esc(r.host) + ' → ' + esc(r.res.dnsGenuine)).join(', ') + '</span></div>';
}

function dnsInterceptWarn() {
  const names = S.basics.filter(intercepted).map(n => n.name);
  if (!names.length) return '';
  return '<div class="note bad">' + t('dns.interceptNote.h') + ' ' + esc(t('dns.interceptList')) +
    esc(names.join(', ')) + '.</div>';
}

// A domain entry's keys in a snapshot (undefined ones are left out).
function dnsSnapKeys(x) {
  return {dnsSpoof: x.dnsSpoof, dnsGenuine: x.dnsGenuine, dnsVia: x.dnsVia};
}

function dnsReportDomain(x) {
  if (!spoofed(x)) return '';
  return ' [' + t('dns.reportSpoof') + x.dnsGenuine + (x.dnsVia ? ', ' + x.dnsVia : '') + ']';
}

function dnsReportBasics() {
  const names = S.basics.filter(intercepted).map(n => n.name);
  return names.length ? [t('dns.reportIntercept') + names.join(', ')] : [];
}

// Comparison of two snapshots: the swapped answers and the interception,
// each as a table of its own, shown only when one side has a finding.
function spoofWord(d) {
  if (d.dnsSpoof === YES) return t('dns.spoof') + ' → ' + d.dnsGenuine;
  return d.dnsSpoof === 'fail' ? t('dns.unknown') : t('dns.none');
}

function interceptWord(n) {
  if (n.intercept === YES) return t('dns.intercept');
  return n.intercept === 'no' ? t('dns.none') : t('dns.unknown');
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
  if (sa.any || sb.any) h += TV.diffTable(t('dns.cmpSpoof'), sa.m, sb.m, findingHtml);
  const ia = findings(a.basics, 'intercept', interceptWord, n => n.name);
  const ib = findings(b.basics, 'intercept', interceptWord, n => n.name);
  if (ia.any || ib.any) h += TV.diffTable(t('dns.cmpIntercept'), ia.m, ib.m, findingHtml);
  return h;
}

Object.assign(TV, {DNS_NET_ROWS, dnsCmpTables, dnsInterceptWarn, dnsNetMark, dnsReportBasics, dnsReportDomain,
  dnsSnapKeys, dnsSpoofMark, dnsSpoofWarn});
})();

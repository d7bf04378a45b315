// The page's script, in pieces that each parse on their own. They share one
// namespace object: every piece adds to it what the others call; names a
// later piece adds are looked up at call time (TV.name), names of earlier
// pieces are taken when the piece runs.
const TV = {};

(function () {
'use strict';

// ---------------------------------------------------------------------------
// Shared vocabulary and state
// ---------------------------------------------------------------------------

// Default lists are shared with the native side (see web/lists); the embed
// step replaces each @LIST:...@ token with a JSON string literal.
const DOM_DEFAULT = @LIST:domains@.replace(/\r\n/g, '\n').replace(/\n+$/, '');

// The IP-information service; named in the lookup card and the report.
const IPINFO_HOST = 'ip-api.com';

// The verdict words, by the wire's word; the texts are in the tables (32-texts.js).
const VL = {pass: 'v.pass', reach: 'v.reach', partial: 'v.partial', dpi: 'v.dpi', blocked: 'v.blocked'};

// A verdict's word in the chosen language; an unknown word is shown as itself.
function vword(v) {
  if (v === 'pend') return '…';
  const k = word(VL, v);
  return k === v ? v : TV.t(k);
}

// Group names: the table key and the colour.
const GROUPS = {
  ru: ['grp.ru', '--acc'],
  cloud: ['grp.cloud', '--reach'],
  host: ['grp.host', '--ok'],
  world: ['grp.world', '--warn'],
  custom: ['grp.custom', '--mut']
};

const S = {
  run: 0,
  cur: null,
  domRows: [],
  mx: {ips: [], snis: [], cells: {}},
  basics: [],
  ipinfo: null,
  files: [],
  pickA: null,
  pickB: null,
  lastSig: null,
  lastStatus: null,
  autoTimer: null,
  log: [],
  dir: '',
  ended: {}
};

// ---------------------------------------------------------------------------
// Utilities
// ---------------------------------------------------------------------------

const $ = sel => document.querySelector(sel);
const $$ = sel => Array.from(document.querySelectorAll(sel));
const byId = id => document.getElementById(id);

function esc(s) {
  if (s === null || s === undefined) return '';
  return String(s).replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;').replace(/"/g, '&quot;');
}

// Table lookup that ignores inherited names ("constructor", "toString"...),
// so an odd word from a message is shown as itself.
function word(tbl, w) {
  return Object.prototype.hasOwnProperty.call(tbl, w) ? tbl[w] : w;
}

// Trims like the native job-list parser, which also treats U+0085 as white
// space; a line the native side would see as empty must not become a row.
function trimWs(s) {
  return String(s).replace(/^[\s\u0085]+|[\s\u0085]+$/g, '');
}

function pad(n) { return String(n).padStart(2, '0'); }

function hms(d) {
  d = d || new Date();
  return pad(d.getHours()) + ':' + pad(d.getMinutes()) + ':' + pad(d.getSeconds());
}

function stamp() {
  const d = new Date();
  return d.getFullYear() + pad(d.getMonth() + 1) + pad(d.getDate()) + '_' +
    pad(d.getHours()) + pad(d.getMinutes()) + pad(d.getSeconds());
}

// "31.01.2025, 09:42:05", the Russian locale's short form, built by hand so
// it does not depend on the web view's locale data.
function ruDateTime(d) {
  return pad(d.getDate()) + '.' + pad(d.getMonth() + 1) + '.' + d.getFullYear() + ', ' + hms(d);
}

// A date and time as the chosen language writes it: the Russian short form,
// or year-month-day in English.
function dateTime(d) {
  if (TV.getLang() === 'ru') return ruDateTime(d);
  return d.getFullYear() + '-' + pad(d.getMonth() + 1) + '-' + pad(d.getDate()) + ' ' + hms(d);
}

let toastTimer = null;
function toast(t) {
  const el = byId('toast');
  el.textContent = t === null || t === undefined ? '' : String(t);
  el.classList.add('show');
  clearTimeout(toastTimer);
  toastTimer = setTimeout(() => el.classList.remove('show'), 2600);
}

const DASH = '<span class="mut">—</span>';

function chip(st, ms, det) {
  if (!st || st === 'skip') return DASH;
  let t = esc(st);
  if (st === 'ok' && ms >= 0) t += ' ' + esc(ms) + esc(TV.t('u.ms'));
  return '<span class="chip ' + esc(st) + '" title="' + esc(det) + '">' + t + '</span>';
}

function okV(v) { return v === 'pass' || v === 'reach'; }

function verdictHtml(v) {
  return '<span class="v ' + esc(v) + '">' + esc(vword(v)) + '</span>';
}

// ---------------------------------------------------------------------------
// Bridge
// ---------------------------------------------------------------------------

function post(...args) {
  const text = args.map(a => String(a).replace(/\t/g, ' ')).join('\t');
  try {
    window.chrome.webview.postMessage(text);
  } catch (e) {
    console.log('post', args);
  }
}

// The scan command's fields, in the order the native side reads them
// (bridge/protocol.h); fields added later go after `jobs`.
const SCAN_FIELDS = ['run', 'mode', 'timeout', 'threads', 'http', 'jobs', 'xfer', 'hello', 'repeat', 'dnscheck'];
// The optional fields after `jobs`: a scan that gives none of them sends none;
// one that gives a later one sends the earlier ones as these defaults.
const SCAN_DEFAULTS = {xfer: 0, hello: 'lib', repeat: 1, dnscheck: 0};
const SCAN_FLAGS = ['http', 'xfer', 'dnscheck'];

function postScan(o) {
  let n = SCAN_FIELDS.length;
  while (n > 6 && o[SCAN_FIELDS[n - 1]] === undefined) n -= 1;
  post('scan', ...SCAN_FIELDS.slice(0, n).map(k => {
    const v = o[k] === undefined ? SCAN_DEFAULTS[k] : o[k];
    return SCAN_FLAGS.includes(k) ? (v ? 1 : 0) : v;
  }));
}

function onMsg(m) {
  if (!m || typeof m !== 'object' || !('t' in m)) return;
  const cur = S.cur;
  const mine = cur !== null && m.run === cur.id;
  switch (m.t) {
    case 'hello':
      byId('ver').textContent = m.version === undefined || m.version === null ? '' : String(m.version);
      S.dir = m.dir === undefined || m.dir === null ? '' : String(m.dir);
      byId('dirTxt').textContent = S.dir;
      // The stored language, when the native side keeps one.
      if (typeof m.lang === 'string') TV.setLang(m.lang);
      break;
    case 'res':
      if (mine) onRes(m);
      break;
    case 'net':
      if (!mine) break;
      S.basics.push(m);
      byId('bsBody').insertAdjacentHTML('beforeend', TV.netRowHtml(m));
      cur.done += 1;
      prog();
      break;
    case 'ipinfo':
      if (!mine) break;
      TV.showIpInfo(m.body);
      cur.done += 1;
      prog();
      break;
    case 'done': {
      if (!mine) break;
      const kind = cur.kind;
      const cancelled = m.cancelled === true;
      endRun(cancelled);
      if (kind !== 'matrix') TV.vpnBanner();
      if (kind === 'domains') {
        TV.finishDomains(cancelled);
        TV.scheduleAuto();
      } else if (kind === 'matrix' && !cancelled) {
        TV.renderMxNotes();
      }
      break;
    }
    case 'files':
      S.files = Array.isArray(m.list) ? m.list : [];
      TV.renderFiles();
      break;
    case 'file':
      TV.onFile(m.name, m.data);
      break;
    case 'saved':
      toast(TV.t('snap.saved', m.name));
      break;
    case 'msg':
      toast(TV.wire(m.text));
      break;
    default:
      break;
  }
}

function onRes(m) {
  S.cur.done += 1;
  if (S.cur.kind === 'domains') TV.onDomRes(m);
  else if (S.cur.kind === 'matrix') TV.onMxRes(m);
  prog();
}

// ---------------------------------------------------------------------------
// Runs, progress
// ---------------------------------------------------------------------------

function setBusy(on) {
  $$('.stopBtn').forEach(b => { b.disabled = !on; });
  ['btnBasics', 'btnDom', 'btnMx'].forEach(id => { byId(id).disabled = on; });
}

function barFill(pfx) { return byId(pfx + 'Bar').firstElementChild; }

function startRun(kind, total, pfx) {
  S.run += 1;
  S.cur = {id: S.run, kind: kind, total: total, done: 0, pfx: pfx};
  delete S.ended[pfx];
  setBusy(true);
  byId(pfx + 'Bar').classList.add('run');
  barFill(pfx).style.width = '0%';
  return S.run;
}

function prog() {
  const c = S.cur;
  if (!c) return;
  const p = c.total ? Math.round(c.done * 100 / c.total) : 0;
  barFill(c.pfx).style.width = p + '%';
  const el = byId(c.pfx + 'Prog');
  if (el) el.textContent = c.done + ' / ' + c.total + ' (' + p + '%)';
}

function endRun(cancelled) {
  const c = S.cur;
  if (!c) return;
  byId(c.pfx + 'Bar').classList.remove('run');
  if (!cancelled) barFill(c.pfx).style.width = '100%';
  S.ended[c.pfx] = {done: c.done, total: c.total, cancelled: cancelled};
  endText(c.pfx);
  S.cur = null;
  setBusy(false);
}

// The progress line of a finished run, in the chosen language.
function endText(pfx) {
  const e = S.ended[pfx];
  const el = byId(pfx + 'Prog');
  if (e && el) el.textContent = TV.t(e.cancelled ? 'run.stopped' : 'run.done', e.done, e.total);
}

function showTab(v) {
  $$('.tab').forEach(b => b.classList.toggle('active', b.dataset.v === v));
  $$('.view').forEach(s => s.classList.toggle('active', s.id === 'v-' + v));
  if (v === 'history') post('list');
}

Object.assign(TV, {postScan, $, $$, DASH, DOM_DEFAULT, GROUPS, IPINFO_HOST, S, VL, byId, chip, endText, esc, hms,
  okV, onMsg, post, prog, ruDateTime, dateTime, showTab, stamp, startRun, toast, trimWs, verdictHtml, vword, word});
})();

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

const VL = {pass: 'ПРОХОДИТ', reach: 'ДОСТУЧАЛСЯ', partial: 'ЧАСТИЧНО', dpi: 'DPI / СБРОС', blocked: 'БЛОК', pend: '…'};

const GROUPS = {
  ru: ['Российские', '--acc'],
  cloud: ['Облака / CDN', '--reach'],
  host: ['Хостинги / VPS', '--ok'],
  world: ['Контроль (мир)', '--warn'],
  custom: ['Свои', '--mut']
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
  dir: ''
};

// Hooks filled by the later script pieces (matrix, history), so that the
// dispatcher below can reach them without caring about piece order.
const H = {};

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
  if (st === 'ok' && ms >= 0) t += ' ' + esc(ms) + 'мс';
  return '<span class="chip ' + esc(st) + '" title="' + esc(det) + '">' + t + '</span>';
}

function okV(v) { return v === 'pass' || v === 'reach'; }

function verdictHtml(v) {
  return '<span class="v ' + esc(v) + '">' + esc(word(VL, v)) + '</span>';
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

function onMsg(m) {
  if (!m || typeof m !== 'object' || !('t' in m)) return;
  const cur = S.cur;
  const mine = cur !== null && m.run === cur.id;
  switch (m.t) {
    case 'hello':
      byId('ver').textContent = m.version === undefined || m.version === null ? '' : String(m.version);
      S.dir = m.dir === undefined || m.dir === null ? '' : String(m.dir);
      byId('dirTxt').textContent = S.dir;
      break;
    case 'res':
      if (mine) onRes(m);
      break;
    case 'net':
      if (!mine) break;
      S.basics.push(m);
      byId('bsBody').insertAdjacentHTML('beforeend', netRowHtml(m));
      cur.done += 1;
      prog();
      break;
    case 'ipinfo':
      if (!mine) break;
      showIpInfo(m.body);
      cur.done += 1;
      prog();
      break;
    case 'done': {
      if (!mine) break;
      const kind = cur.kind;
      const cancelled = m.cancelled === true;
      endRun(cancelled);
      if (kind !== 'matrix') vpnBanner();
      if (kind === 'domains') {
        finishDomains(cancelled);
        scheduleAuto();
      } else if (kind === 'matrix' && !cancelled) {
        H.renderMxNotes();
      }
      break;
    }
    case 'files':
      S.files = Array.isArray(m.list) ? m.list : [];
      H.renderFiles();
      break;
    case 'file':
      H.onFile(m.name, m.data);
      break;
    case 'saved':
      toast('Снимок сохранён: ' + m.name);
      break;
    case 'msg':
      toast(m.text);
      break;
    default:
      break;
  }
}

function onRes(m) {
  S.cur.done += 1;
  if (S.cur.kind === 'domains') onDomRes(m);
  else if (S.cur.kind === 'matrix') H.onMxRes(m);
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
  const el = byId(c.pfx + 'Prog');
  if (el) el.textContent = (cancelled ? 'Остановлено: ' : 'Готово: ') + c.done + ' / ' + c.total;
  S.cur = null;
  setBusy(false);
}

function showTab(v) {
  $$('.tab').forEach(b => b.classList.toggle('active', b.dataset.v === v));
  $$('.view').forEach(s => s.classList.toggle('active', s.id === 'v-' + v));
  if (v === 'history') post('list');
}

// ---------------------------------------------------------------------------
// Basic test
// ---------------------------------------------------------------------------

function startBasics() {
  if (S.cur) return;
  S.basics = [];
  S.ipinfo = null;
  byId('bsBody').innerHTML = '';
  byId('bsInfo').classList.add('hidden');
  const id = startRun('basics', 13, 'bs');
  post('basics', id, byId('bsTimeout').value);
}

function netRowHtml(n) {
  return '<tr><td><span class="gtag">' + esc(n.group) + '</span></td><td>' + esc(n.name) + '</td><td>' +
    chip(n.state, -1, n.detail) + '</td><td>' +
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

// ---------------------------------------------------------------------------
// Domain check
// ---------------------------------------------------------------------------

function parseDomains() {
  const rows = [];
  let group = 'custom';
  for (const raw of byId('domList').value.split('\n')) {
    const line = trimWs(raw);
    if (!line) continue;
    if (line[0] === '#') {
      const g = /\[([A-Za-z0-9_]+)\]/.exec(line);
      if (g) group = g[1].toLowerCase();
      continue;
    }
    // The native side cuts each job at its first "|" and drops jobs whose
    // host part is empty; such a line would shift every later result.
    if (!trimWs(line.split('|')[0])) continue;
    rows.push({host: line.toLowerCase(), group: group, res: null});
  }
  return rows;
}

function startDomains() {
  if (S.cur) return false;
  const rows = parseDomains();
  if (!rows.length) {
    toast('Список доменов пуст');
    return false;
  }
  S.domRows = rows;
  domTally = tally(rows);
  renderDomTable();
  renderDomStats();
  const id = startRun('domains', rows.length, 'dom');
  post('scan', id, 'domains', byId('domTimeout').value, byId('domThreads').value,
    byId('domHttp').checked ? 1 : 0, rows.map(r => r.host + '|' + r.host).join('\n'));
  prog();
  return true;
}

function domRowHtml(r) {
  const head = '<td class="mono">' + esc(r.host) + '</td><td><span class="gtag">' + esc(r.group) + '</span></td>';
  const x = r.res;
  if (!x) return head + '<td colspan="6" class="mut">ожидает…</td><td class="v pend">…</td>';
  let http;
  if (x.http === 'skip') http = DASH;
  else if (x.http === 'ok') http = '<span class="chip ok">' + esc(x.httpCode) + ' · ' + esc(x.httpMs) + 'мс</span>';
  else http = chip(x.http, -1, x.tlsDetail);
  let cert = DASH;
  if (x.cert) {
    cert = esc(x.cert) + ' ' + (x.certOk === true ? '<span class="certok">✓</span>' :
      '<span class="certbad" title="сертификат не прошёл проверку (подмена или чужой хост)">⚠</span>');
  }
  return head +
    '<td>' + (x.ip ? '<span class="mono">' + esc(x.ip) + '</span>' : DASH) + '</td>' +
    '<td>' + chip(x.dns, x.dnsMs) + '</td>' +
    '<td>' + chip(x.tcp, x.tcpMs, x.tlsDetail) + '</td>' +
    '<td>' + chip(x.tls, x.tlsMs, x.tlsDetail) + '</td>' +
    '<td>' + http + '</td>' +
    '<td>' + cert + '</td>' +
    '<td class="v ' + esc(x.verdict) + '">' + esc(word(VL, x.verdict)) + '</td>';
}

function renderDomTable() {
  byId('domBody').innerHTML = S.domRows.map((r, i) => '<tr id="dr' + i + '">' + domRowHtml(r) + '</tr>').join('');
}

function onDomRes(m) {
  const row = Number.isInteger(m.idx) ? S.domRows[m.idx] : undefined;
  if (row) {
    if (row.res) tallyRes(domTally, row, -1);
    row.res = m;
    tallyRes(domTally, row, 1);
    const tr = byId('dr' + m.idx);
    if (tr) tr.innerHTML = domRowHtml(row);
  }
  renderDomStats();
}

// Counts of rows per group (in order of first appearance): all rows, rows
// with a result, passing rows. The status and the tiles are read from it;
// during a scan it is kept up to date per result, so a result costs no pass
// over all rows.
function tally(rows) {
  const t = {groups: new Map(), done: 0, ok: 0};
  for (const r of rows) {
    tallyGroup(t, r.group).tot += 1;
    if (r.res) tallyRes(t, r, 1);
  }
  return t;
}

function tallyGroup(t, g) {
  let x = t.groups.get(g);
  if (!x) {
    x = {tot: 0, done: 0, ok: 0};
    t.groups.set(g, x);
  }
  return x;
}

function tallyRes(t, r, sign) {
  const x = tallyGroup(t, r.group);
  const ok = okV(r.res.verdict) ? sign : 0;
  x.done += sign;
  x.ok += ok;
  t.done += sign;
  t.ok += ok;
}

function rateOf(t, g) {
  const x = t.groups.get(g);
  return x && x.done ? {ok: x.ok, total: x.done, rate: x.ok / x.done} : null;
}

function groupRate(g, rows) {
  return rateOf(tally(rows), g);
}

function statusOf(t) {
  if (!t.done) return {k: 'unk', txt: 'Статус неизвестен — запусти скан'};
  const w = rateOf(t, 'world');
  const ru = rateOf(t, 'ru');
  const any = t.ok;
  if (any === 0) return {k: 'dead', txt: 'СЕТИ НЕТ или режется всё'};
  if (w) {
    if (w.rate >= 0.6) return {k: 'open', txt: 'ОТКРЫТО · мир ' + w.ok + '/' + w.total};
    if (w.rate <= 0.25) {
      return {k: 'wl', txt: 'БЕЛЫЕ СПИСКИ · мир ' + w.ok + '/' + w.total + (ru ? ' · ru ' + ru.ok + '/' + ru.total : '')};
    }
    return {k: 'part', txt: 'ЧАСТИЧНО · мир ' + w.ok + '/' + w.total};
  }
  if (any / t.done >= 0.8) return {k: 'open', txt: 'ОТКРЫТО · ' + any + '/' + t.done};
  return {k: 'part', txt: 'ЧАСТИЧНО · ' + any + '/' + t.done};
}

function calcStatus(rows) {
  return statusOf(tally(rows));
}

function setPill(st) {
  byId('pill').className = 'pill s-' + st.k;
  byId('pillTxt').textContent = st.txt;
}

// The tally of S.domRows, rebuilt when a scan starts.
let domTally = tally([]);

function renderDomStats() {
  byId('domStats').innerHTML = Array.from(domTally.groups, ([g, t]) => {
    const p = Object.prototype.hasOwnProperty.call(GROUPS, g) ? GROUPS[g] : [g, '--acc'];
    return '<div class="tile"><div class="big" style="color:var(' + p[1] + ')">' + t.ok + ' / ' + t.tot +
      '</div><div class="cap">' + esc(p[0]) + ' · проходят</div></div>';
  }).join('');
  const st = statusOf(domTally);
  setPill(st);
  S.lastStatus = st;
}

function sigOf(rows) {
  return rows.map(r => r.host + ':' + (r.res ? r.res.verdict : '?')).join(',');
}

function addLog(t) {
  S.log.unshift('[' + hms() + '] ' + t);
  if (S.log.length > 200) S.log.length = 200;
  byId('domLog').innerHTML = S.log.map(l => '<div>' + esc(l) + '</div>').join('');
}

function finishDomains(cancelled) {
  if (cancelled) return;
  const sig = sigOf(S.domRows);
  const st = S.lastStatus || calcStatus(S.domRows);
  if (S.lastSig === null) {
    addLog('Первый скан: ' + st.txt);
  } else if (sig !== S.lastSig) {
    const a = sig.split(','), b = S.lastSig.split(',');
    let diff = 0;
    for (let i = 0; i < a.length; i++) if (i >= b.length || a[i] !== b[i]) diff += 1;
    addLog('ИЗМЕНЕНИЕ (' + diff + ' шт.): ' + st.txt);
    if (byId('autoOn').checked) H.saveSnapshot('auto');
  } else {
    addLog('Без изменений: ' + st.txt);
  }
  S.lastSig = sig;
}

// The longest delay a browser timer holds (2^31 - 1 ms, about 24.8 days); a
// longer one wraps around and would fire at once, scanning in a loop.
const AUTO_MAX_MIN = Math.floor(2147483647 / 60000);

function autoTick() {
  S.autoTimer = null;
  if (!byId('autoOn').checked) return;
  if (!startDomains()) S.autoTimer = setTimeout(autoTick, 15000);
}

function scheduleAuto() {
  if (S.autoTimer !== null) {
    clearTimeout(S.autoTimer);
    S.autoTimer = null;
  }
  if (!byId('autoOn').checked) return;
  let min = parseInt(byId('autoMin').value, 10);
  if (isNaN(min) || min === 0) min = 5;
  min = Math.min(Math.max(min, 1), AUTO_MAX_MIN);
  S.autoTimer = setTimeout(autoTick, min * 60000);
}

function onAutoToggle() {
  if (byId('autoOn').checked) {
    toast('Авто-скан включён');
    if (!S.cur) scheduleAuto();
  } else {
    if (S.autoTimer !== null) clearTimeout(S.autoTimer);
    S.autoTimer = null;
    toast('Авто-скан выключен');
  }
}

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
  byId('domWarn').innerHTML = (vpn ? VPN_TXT : '') + (dnsSuspect() ? DNS_TXT : '');
  byId('bsWarn').innerHTML = vpn ? VPN_TXT : '';
}

(function () {
'use strict';

const {DASH, GROUPS, S, byId, chip, esc, hms, okV, postScan, prog, ru, startRun, t, toast, trimWs, vword,
  wire} = TV;

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
    toast(t('dom.empty'));
    return false;
  }
  S.domRows = rows;
  domTally = tally(rows);
  renderDomTable();
  renderDomStats();
  const id = startRun('domains', rows.length, 'dom');
  postScan({run: id, mode: 'domains', timeout: byId('domTimeout').value, threads: byId('domThreads').value,
    http: byId('domHttp').checked, jobs: rows.map(r => r.host + '|' + r.host).join('\n'),
    xfer: byId('domHttp').checked && byId('domXfer').checked, hello: TV.helloMode('dom'),
    dnscheck: byId('domDnsCheck').checked, repeat: repeatOf('domRepeat')});
  prog();
  return true;
}

// The "Повторов" field as the scan's `repeat`: tries per job, 2 to 10
// (beyond reads as the nearest bound); one try gives no value, so the
// command stays as it was without repeats.
function repeatOf(id) {
  const n = Math.trunc(Number(byId(id).value));
  return Number.isFinite(n) && n > 1 ? Math.min(n, 10) : undefined;
}

// Whether the tries of a result disagreed; "нестабильно k/N" names it.
function unstable(x) {
  return !!x && Number.isInteger(x.tries) && x.tries > 1 && x.passes > 0 && x.passes < x.tries;
}
function unstableText(x) { return unstable(x) ? t('unst.text', x.passes, x.tries) : ''; }
function unstableHtml(x) {
  return unstable(x) ? ' <span class="unst" title="' + esc(t('unst.tip', x.passes, x.tries)) + '">' +
    esc(unstableText(x)) + '</span>' : '';
}

function domRowHtml(r) {
  const head = '<td class="mono">' + esc(r.host) + '</td><td><span class="gtag">' + esc(r.group) + '</span></td>';
  const x = r.res;
  if (!x) return head + '<td colspan="6" class="mut">' + esc(t('dom.wait')) + '</td><td class="v pend">…</td><td></td>';
  let http;
  if (x.http === 'skip') http = DASH;
  else if (x.http === 'ok') http = '<span class="chip ok">' + esc(x.httpCode) + ' · ' + esc(x.httpMs) + esc(t('u.ms')) + '</span>';
  else http = chip(x.http, -1, x.tlsDetail);
  let cert = DASH;
  if (x.cert) {
    cert = esc(x.cert) + ' ' + (x.certOk === true ? '<span class="certok">✓</span>' :
      '<span class="certbad" title="' + esc(t('dom.certBad')) + '">⚠</span>');
  }
  return head +
    '<td>' + (x.ip ? '<span class="mono">' + esc(x.ip) + '</span>' : DASH) + TV.dnsSpoofMark(x) + '</td>' +
    '<td>' + chip(x.dns, x.dnsMs) + '</td>' +
    '<td>' + chip(x.tcp, x.tcpMs, x.tlsDetail) + '</td>' +
    '<td>' + chip(x.tls, x.tlsMs, x.tlsDetail) + TV.helloMarksHtml(x) + '</td>' +
    '<td>' + http + '</td>' +
    '<td>' + cert + '</td>' +
    '<td class="v ' + esc(x.verdict) + '">' + esc(vword(x.verdict)) + unstableHtml(x) + '</td>' +
    '<td>' + TV.xferCellHtml(x) + '</td>';
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
  const t = {groups: new Map(), done: 0, ok: 0, frozen: 0, unst: 0};
  for (const r of rows) {
    tallyGroup(t, r.group).tot += 1;
    if (r.res) tallyRes(t, r, 1);
  }
  return t;
}

function tallyGroup(t, g) {
  let x = t.groups.get(g);
  if (!x) {
    x = {tot: 0, done: 0, ok: 0, frozen: 0, unst: 0};
    t.groups.set(g, x);
  }
  return x;
}

function tallyRes(t, r, sign) {
  const x = tallyGroup(t, r.group);
  const ok = okV(r.res.verdict) ? sign : 0;
  const frozen = r.res.xfer === 'frozen' ? sign : 0;
  const unst = unstable(r.res) ? sign : 0;
  x.unst += unst;
  t.unst += unst;
  x.done += sign;
  x.ok += ok;
  x.frozen += frozen;
  t.done += sign;
  t.ok += ok;
  t.frozen += frozen;
}

function rateOf(t, g) {
  const x = t.groups.get(g);
  return x && x.done ? {ok: x.ok, total: x.done, rate: x.ok / x.done} : null;
}

function groupRate(g, rows) {
  return rateOf(tally(rows), g);
}

// The status text is built in Russian, as a snapshot keeps it; the page
// shows it through wire().
function statusOf(tl) {
  if (!tl.done) return {k: 'unk', txt: ru('st.unknown')};
  const w = rateOf(tl, 'world');
  const r = rateOf(tl, 'ru');
  const any = tl.ok;
  if (any === 0) return {k: 'dead', txt: ru('st.dead')};
  if (w) {
    const world = ru('st.world') + w.ok + '/' + w.total;
    if (w.rate >= 0.6) return {k: 'open', txt: ru('st.open') + world};
    if (w.rate <= 0.25) {
      return {k: 'wl', txt: ru('st.wl') + world + (r ? ' · ru ' + r.ok + '/' + r.total : '')};
    }
    return {k: 'part', txt: ru('st.part') + world};
  }
  if (any / tl.done >= 0.8) return {k: 'open', txt: ru('st.open') + ' · ' + any + '/' + tl.done};
  return {k: 'part', txt: ru('st.part') + ' · ' + any + '/' + tl.done};
}

function calcStatus(rows) {
  return statusOf(tally(rows));
}

function setPill(st) {
  byId('pill').className = 'pill s-' + st.k;
  byId('pillTxt').textContent = wire(st.txt);
}

// The tally of S.domRows, rebuilt when a scan starts.
let domTally = tally([]);

function renderDomStats() {
  byId('domStats').innerHTML = Array.from(domTally.groups, ([g, n]) => {
    const p = Object.prototype.hasOwnProperty.call(GROUPS, g) ? [t(GROUPS[g][0]), GROUPS[g][1]] : [g, '--acc'];
    return '<div class="tile"><div class="big" style="color:var(' + p[1] + ')">' + n.ok + ' / ' + n.tot +
      '</div><div class="cap">' + esc(p[0]) + esc(t('tile.pass')) + '</div>' +
      (n.frozen ? '<div class="cap xf frozen">❄ ' + n.frozen + esc(t('tile.frozen')) + '</div>' : '') +
      (n.unst ? '<div class="cap unst">≈ ' + n.unst + esc(t('tile.unst')) + '</div>' : '') + '</div>';
  }).join('');
  const st = statusOf(domTally);
  setPill(st);
  const mark = byId('pillXfer');
  mark.textContent = domTally.frozen ? '❄ ' + domTally.frozen : '';
  mark.title = domTally.frozen ? t('pill.frozenTip', domTally.frozen) : '';
  S.lastStatus = st;
}

function sigOf(rows) {
  return rows.map(r => r.host + ':' + (r.res ? r.res.verdict : '?')).join(',');
}

// A log line keeps its time, its text's key and its arguments, so it can be
// shown again in another language; status texts are the Russian ones.
function addLog(key, ...args) {
  S.log.unshift({at: hms(), key: key, args: args});
  if (S.log.length > 200) S.log.length = 200;
  renderLog();
}

function renderLog() {
  byId('domLog').innerHTML = S.log.length ?
    S.log.map(l => '<div>' + esc('[' + l.at + '] ' + t(l.key, ...l.args.map(wire))) + '</div>').join('') :
    '<div>' + esc(t('dom.logEmpty')) + '</div>';
}

function finishDomains(cancelled) {
  if (cancelled) return;
  const sig = sigOf(S.domRows);
  const st = S.lastStatus || calcStatus(S.domRows);
  if (S.lastSig === null) {
    addLog('log.first', st.txt);
  } else if (sig !== S.lastSig) {
    const a = sig.split(','), b = S.lastSig.split(',');
    let diff = 0;
    for (let i = 0; i < a.length; i++) if (i >= b.length || a[i] !== b[i]) diff += 1;
    addLog('log.change', diff, st.txt);
    if (byId('autoOn').checked) TV.saveSnapshot('auto');
  } else {
    addLog('log.same', st.txt);
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
    toast(t('auto.on'));
    if (!S.cur) scheduleAuto();
  } else {
    if (S.autoTimer !== null) clearTimeout(S.autoTimer);
    S.autoTimer = null;
    toast(t('auto.off'));
  }
}

Object.assign(TV, {calcStatus, repeatOf, unstable, unstableHtml, unstableText, finishDomains, onAutoToggle, onDomRes,
  renderDomStats, renderDomTable, renderLog, scheduleAuto, startDomains});
})();

(function () {
'use strict';

const {DASH, GROUPS, S, VL, byId, chip, esc, hms, okV, postScan, prog, startRun, toast, trimWs,
  word} = TV;

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
function unstableText(x) { return unstable(x) ? 'нестабильно ' + x.passes + '/' + x.tries : ''; }
function unstableHtml(x) {
  return unstable(x) ? ' <span class="unst" title="попытки расходятся: прошло ' + x.passes + ' из ' + x.tries +
    ', вердикт — по последней">' + esc(unstableText(x)) + '</span>' : '';
}

function domRowHtml(r) {
  const head = '<td class="mono">' + esc(r.host) + '</td><td><span class="gtag">' + esc(r.group) + '</span></td>';
  const x = r.res;
  if (!x) return head + '<td colspan="6" class="mut">ожидает…</td><td class="v pend">…</td><td></td>';
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
    '<td>' + (x.ip ? '<span class="mono">' + esc(x.ip) + '</span>' : DASH) + TV.dnsSpoofMark(x) + '</td>' +
    '<td>' + chip(x.dns, x.dnsMs) + '</td>' +
    '<td>' + chip(x.tcp, x.tcpMs, x.tlsDetail) + '</td>' +
    '<td>' + chip(x.tls, x.tlsMs, x.tlsDetail) + TV.helloMarksHtml(x) + '</td>' +
    '<td>' + http + '</td>' +
    '<td>' + cert + '</td>' +
    '<td class="v ' + esc(x.verdict) + '">' + esc(word(VL, x.verdict)) + unstableHtml(x) + '</td>' +
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
      '</div><div class="cap">' + esc(p[0]) + ' · проходят</div>' +
      (t.frozen ? '<div class="cap xf frozen">❄ ' + t.frozen + ' · данные встают</div>' : '') +
      (t.unst ? '<div class="cap unst">≈ ' + t.unst + ' · нестабильно</div>' : '') + '</div>';
  }).join('');
  const st = statusOf(domTally);
  setPill(st);
  const mark = byId('pillXfer');
  mark.textContent = domTally.frozen ? '❄ ' + domTally.frozen : '';
  mark.title = domTally.frozen ? 'Хостов, где данные встают после 16–20 КБ: ' + domTally.frozen : '';
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
    if (byId('autoOn').checked) TV.saveSnapshot('auto');
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

Object.assign(TV, {calcStatus, repeatOf, unstable, unstableHtml, unstableText, finishDomains, onAutoToggle, onDomRes, scheduleAuto, startDomains});
})();

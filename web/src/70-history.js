(function () {
'use strict';

const {DASH, IPINFO_HOST, S, SH, byId, calcStatus, esc, mxKey, post, stamp, t,
  toast, verdictHtml, vword, wire, word} = TV;

// ---------------------------------------------------------------------------
// Snapshots, comparison, report
// ---------------------------------------------------------------------------

let pending = null;          // null, {view: name} or {a: name, b: name}
let shown = null;            // what #cmpOut shows: null, {view: name} or {a: name, b: name}
const loaded = new Map();    // file name -> parsed snapshot

const arr = x => (Array.isArray(x) ? x : []);
const isObj = x => x !== null && typeof x === 'object' && !Array.isArray(x);
const str = x => (x === undefined || x === null ? '' : String(x));

// The repeated tries' keys, last in an entry, when more than one try ran.
function repeatKeys(x) {
  return Number.isInteger(x.tries) && x.tries > 1 ? {tries: x.tries, passes: x.passes} : {};
}

// A matrix cell's row name in the comparison: the made-up name of either
// snapshot reads as one "?" column, whatever name each run drew.
function cellName(s, c) {
  const rand = isObj(s.matrix) ? str(s.matrix.rand) : '';
  return str(c.ip) + ' × ' + (rand && str(c.sni) === rand ? t('cmp.rand') : c.sni ? str(c.sni) : '∅');
}

function makeSnapshot(label) {
  const st = calcStatus(S.domRows);
  return {
    v: 1,
    created: new Date().toISOString(),
    label: str(label),
    status: {k: st.k, txt: st.txt},
    domains: S.domRows.filter(r => r.res).map(r => {
      const x = r.res;
      return Object.assign({host: x.host, group: r.group, verdict: x.verdict, ip: x.ip, dns: x.dns, tcp: x.tcp,
        tls: x.tls, http: x.http, httpCode: x.httpCode, tlsMs: x.tlsMs, cert: x.cert, certOk: x.certOk},
      TV.xferKeys(x), TV.helloKeys(x), TV.dnsSnapKeys(x), repeatKeys(x));
    }),
    // The list names the made-up name as it was sent, so older readers show
    // its column like any other; `rand` tells which column it was.
    matrix: Object.assign({
      ips: S.mx.ips.slice(),
      snis: S.mx.snis.map(x => (x === TV.RAND_SNI ? TV.mxName(x) : x)),
      cells: Object.keys(S.mx.cells).map(k => {
        const c = S.mx.cells[k];
        return Object.assign({ip: c.host, sni: c.sni, verdict: c.verdict, tcp: c.tcp, tls: c.tls, tlsMs: c.tlsMs},
          TV.xferKeys(c), TV.helloKeys(c), repeatKeys(c));
      })
    }, S.mx.rand && S.mx.snis.includes(TV.RAND_SNI) ? {rand: S.mx.rand} : {}),
    basics: S.basics.slice(),
    ipinfo: S.ipinfo
  };
}

function snapshotName(label) {
  const tag = str(label).replace(/[^A-Za-z0-9_-]+/g, '_').replace(/^_+|_+$/g, '').slice(0, 24);
  return 'scan_' + stamp() + (tag ? '_' + tag : '') + '.json';
}

function saveSnapshot(label) {
  const s = makeSnapshot(label);
  if (!s.domains.length && !s.matrix.cells.length && !s.basics.length) {
    toast(t('snap.nothing'));
    return;
  }
  post('save', snapshotName(label), JSON.stringify(s));
}

function buildReport() {
  const L = [];
  L.push('Tarnveil ' + byId('ver').textContent + ' | ' + TV.dateTime(new Date()));
  L.push(t('rep.status', wire(calcStatus(S.domRows).txt)));
  const ii = S.ipinfo;
  if (ii && ii.error) L.push(t('rep.exitNa', IPINFO_HOST));
  else if (ii) L.push(t('rep.exit', str(ii.ip) + ' | ' + str(ii.isp) + ' | ' + str(ii.as) + ' | ' + str(ii.city)));
  const done = S.domRows.filter(r => r.res);
  let legend = false; // the key to the hello tokens, once
  if (done.length) {
    L.push('', t('rep.domains'));
    for (const r of done) {
      const x = r.res;
      L.push('[' + r.group + '] ' + r.host + ' -> ' + vword(x.verdict) + ' (ip ' + (x.ip || '-') +
        ', dns ' + x.dns + ', tcp ' + x.tcp + ', tls ' + x.tls + (x.tlsMs >= 0 ? ' ' + x.tlsMs + 'ms' : '') +
        (x.http === 'ok' ? ', http ' + x.httpCode : '') + (TV.helloToken(x) ? ', hello ' + TV.helloToken(x) : '') +
        (typeof x.xfer === 'string' ? t('rep.xfer', TV.xferText(x)) : '') +
        (Number.isInteger(x.tries) && x.tries > 1 ? t('rep.tries', x.passes, x.tries) : '') + ')' +
        (TV.unstable(x) ? t('rep.unst') : '') + TV.dnsReportDomain(x));
    }
    legend = done.some(r => TV.helloToken(r.res));
    if (legend) L.push(t('hello.legend'));
  }
  if (Object.keys(S.mx.cells).length) {
    L.push('', '== IP x SNI ==');
    const fp = [];
    for (const ip of S.mx.ips) {
      const xs = S.mx.snis.map(sni => S.mx.cells[mxKey(ip, sni)]);
      L.push(ip + ': ' + S.mx.snis.map((sni, j) => {
        const x = xs[j];
        return (sni === '-' ? 'noSNI' : sni === TV.RAND_SNI ? '?' + TV.mxName(sni) : sni) + '=' +
          (x ? word(SH, x.verdict) : '?') +
          (x && TV.helloToken(x) ? '[' + TV.helloToken(x) + ']' : '') +
          (x && TV.xferBad(x) ? '/' + x.xfer : '') +
          (TV.unstable(x) ? '~' + x.passes + '/' + x.tries : '');
      }).join(' '));
      const n = TV.helloNote(xs.filter(Boolean));
      if (n) fp.push(ip + ' — ' + n.txt.replace(/<\/?b>/g, ''));
    }
    if (!legend && xsHello()) L.push(t('hello.legend'));
    if (Object.keys(S.mx.cells).some(k => TV.unstable(S.mx.cells[k]))) {
      L.push(t('rep.unstKey'));
    }
    L.push(...fp);
  }
  if (S.basics.length) {
    L.push('', t('rep.basics'));
    for (const n of S.basics) {
      L.push(wire(n.group) + ' | ' + n.name + ' -> ' + n.state + (n.ms >= 0 ? ' ' + n.ms + 'ms' : '') +
        (n.detail ? ' (' + wire(n.detail) + ')' : ''));
    }
    L.push(...TV.dnsReportBasics());
  }
  return L.join('\n');
}

let shownFiles = [];

function renderFiles() {
  shownFiles = arr(S.files).filter(isObj).slice().sort((a, b) => str(b.name).localeCompare(str(a.name)));
  const el = byId('fileList');
  if (!shownFiles.length) {
    el.innerHTML = '<div class="empty">' + esc(t('files.none')) + '</div>';
    TV.timelineFiles();
    return;
  }
  TV.timelineFiles();
  el.innerHTML = shownFiles.map((f, i) => {
    const name = str(f.name);
    const kb = ((Number(f.size) || 0) / 1024).toFixed(1);
    return '<div class="frow"><span class="fname">' + esc(name) + '</span><span class="fsize">' + kb + ' ' + esc(t('u.kb')) + '</span>' +
      (name === S.pickA ? '<span class="ftag a">A</span>' : '') +
      (name === S.pickB ? '<span class="ftag b">B</span>' : '') +
      '<button class="sm" data-act="a" data-i="' + i + '">A</button>' +
      '<button class="sm" data-act="b" data-i="' + i + '">B</button>' +
      '<button class="sm" data-act="view" data-i="' + i + '">' + esc(t('files.view')) + '</button>' +
      '<button class="sm del" data-act="del" data-i="' + i + '">×</button></div>';
  }).join('');
}

// Shows one saved snapshot, once the native side has read it.
function openSnapshot(name) {
  pending = {view: name};
  post('load', name);
}

function onFileClick(ev) {
  const b = ev.target.closest('button[data-act]');
  if (!b) return;
  const f = shownFiles[Number(b.dataset.i)];
  if (!f) return;
  const name = str(f.name);
  switch (b.dataset.act) {
    case 'a': S.pickA = name; renderFiles(); break;
    case 'b': S.pickB = name; renderFiles(); break;
    case 'view':
      openSnapshot(name);
      break;
    case 'del':
      if (S.pickA === name) S.pickA = null;
      if (S.pickB === name) S.pickB = null;
      loaded.delete(name);
      post('delete', name);
      break;
  }
}

function compare() {
  if (!S.pickA || !S.pickB) {
    toast(t('cmp.pick'));
    return;
  }
  const a = S.pickA, b = S.pickB;
  pending = {a: a, b: b};
  loaded.delete(a);
  loaded.delete(b);
  post('load', a);
  if (b !== a) post('load', b);
}

function onFile(name, data) {
  name = str(name);
  let s;
  try { s = JSON.parse(data); } catch (e) { s = undefined; }
  const forUser = pending !== null && (pending.view === name || pending.a === name || pending.b === name);
  // A read the timeline alone asked for ends with its summary.
  if (TV.timelineFile(name, isObj(s) ? s : null) && !forUser) return;
  // Anything but a JSON object is as unusable as broken JSON.
  if (!isObj(s)) {
    toast(t('snap.bad', name));
    pending = null;
    return;
  }
  loaded.set(name, s);
  afterLoad();
}

function afterLoad() {
  if (!pending) return;
  if (pending.view !== undefined) {
    if (loaded.has(pending.view)) {
      const v = pending.view;
      pending = null;
      renderView(v);
    }
  } else if (loaded.has(pending.a) && loaded.has(pending.b)) {
    const p = pending;
    pending = null;
    renderCmp(p.a, p.b);
  }
}

// Whether any matrix cell carries the browser hellos.
function xsHello() {
  return Object.keys(S.mx.cells).some(k => TV.helloToken(S.mx.cells[k]));
}

function snapHead(tag, s, name) {
  const st = isObj(s.status) && s.status.txt !== undefined ? wire(str(s.status.txt)) : '?';
  const d = new Date(s.created);
  const when = isNaN(d.getTime()) ? '?' : TV.dateTime(d);
  const label = str(s.label);
  return '<div class="tile"><div class="big2"><b>' + esc(tag) + ': ' + esc(st) + '</b></div><div class="cap">' +
    esc(name) + ' · ' + esc(when) + (label ? ' · ' + esc(label) : '') + '</div></div>';
}

function renderView(name) {
  const s = loaded.get(name);
  shown = {view: name};
  let h = '<div class="tiles">' + snapHead(t('snap.tag'), s, name) + '</div>';
  const ii = s.ipinfo;
  if (isObj(ii) && !ii.error) {
    h += '<div class="note">' + esc(t('snap.exit')) + ' <span class="mono">' + esc(ii.ip) + '</span> · ' + esc(ii.isp) + ' · ' +
      esc(ii.as) + '</div>';
  }
  h += '<div class="tblWrap"><table class="tbl"><thead><tr><th>' + esc(t('th.domain')) + '</th><th>' +
    esc(t('th.group')) + '</th><th>' + esc(t('th.verdict')) + '</th><th>IP</th>' +
    '</tr></thead><tbody>' + arr(s.domains).filter(isObj).map(d => '<tr><td class="mono">' + esc(d.host) +
    '</td><td><span class="gtag">' + esc(d.group) + '</span></td><td>' + verdictHtml(d.verdict) + TV.unstableHtml(d) + '</td><td>' +
    (d.ip ? '<span class="mono">' + esc(d.ip) + '</span>' : DASH) + TV.dnsSpoofMark(d) + '</td></tr>').join('') + '</tbody></table></div>';
  byId('cmpOut').innerHTML = h;
}

function domMap(s) {
  const m = new Map();
  for (const d of arr(s.domains)) if (isObj(d)) m.set(str(d.host), d.verdict);
  return m;
}

function mxMap(s) {
  const m = new Map();
  const cells = isObj(s.matrix) ? arr(s.matrix.cells) : [];
  for (const c of cells) if (isObj(c)) m.set(cellName(s, c), c.verdict);
  return m;
}

// The transfer findings of both snapshots, by row; empty when neither ran it.
function xferMap(s) {
  const m = new Map();
  for (const d of arr(s.domains)) if (isObj(d) && typeof d.xfer === 'string') m.set(str(d.host), d);
  const cells = isObj(s.matrix) ? arr(s.matrix.cells) : [];
  for (const c of cells) {
    if (isObj(c) && typeof c.xfer === 'string') m.set(cellName(s, c), c);
  }
  return m;
}

function xferSide(x) {
  return x === undefined ? verdictHtml('pend') : TV.xferCellHtml(x);
}

// The hello tokens ("L+C-F+") of both snapshots' entries, by row; empty when
// neither snapshot compared hellos.
function helloMap(s) {
  const m = new Map();
  const put = (k, x) => { if (isObj(x) && TV.helloToken(x)) m.set(k, TV.helloToken(x)); };
  for (const d of arr(s.domains)) put(str(isObj(d) ? d.host : ''), d);
  const cells = isObj(s.matrix) ? arr(s.matrix.cells) : [];
  for (const c of cells) if (isObj(c)) put(cellName(s, c), c);
  return m;
}

function helloDiff(a, b) {
  const ha = helloMap(a), hb = helloMap(b);
  if (!ha.size && !hb.size) return '';
  return diffTable(t('cmp.hello'), ha, hb, t => '<span class="mono">' + esc(t) + '</span>');
}

// `show` renders a side's value (a verdict unless told otherwise); `same`
// tells whether two values count as unchanged.
function diffTable(title, rowsA, rowsB, show = verdictHtml, same = (x, y) => x === y) {
  const keys = Array.from(rowsA.keys());
  for (const k of rowsB.keys()) if (!rowsA.has(k)) keys.push(k);
  const changed = keys.filter(k => !rowsA.has(k) || !rowsB.has(k) || !same(rowsA.get(k), rowsB.get(k)));
  let h = '<div class="cmpH"><b>' + esc(title) + esc(t('cmp.changed', changed.length, keys.length)) + '</b></div>';
  if (!changed.length) return h + '<div class="note good">' + esc(t('cmp.same')) + '</div>';
  const side = (m, k) => (m.has(k) ? show(m.get(k)) : verdictHtml('pend'));
  return h + '<div class="tblWrap"><table class="tbl"><thead><tr><th>' + esc(t('cmp.what')) + '</th><th>' +
    esc(t('cmp.a')) + '</th><th></th><th>' + esc(t('cmp.b')) + '</th></tr></thead><tbody>' + changed.map(k => '<tr><td class="mono">' + esc(k) + '</td><td>' +
    side(rowsA, k) + '</td><td class="arrow">→</td><td>' + side(rowsB, k) + '</td></tr>').join('') +
    '</tbody></table></div>';
}

// Tries of both snapshots' entries ("k/N"), by row; empty when neither
// repeated its tries.
function repeatMap(s) {
  const m = new Map();
  const put = (k, x) => { if (isObj(x) && Number.isInteger(x.tries) && x.tries > 1) m.set(k, x.passes + '/' + x.tries); };
  for (const d of arr(s.domains)) if (isObj(d)) put(str(d.host), d);
  const cells = isObj(s.matrix) ? arr(s.matrix.cells) : [];
  for (const c of cells) if (isObj(c)) put(cellName(s, c), c);
  return m;
}

function repeatDiff(a, b) {
  const ra = repeatMap(a), rb = repeatMap(b);
  if (!ra.size && !rb.size) return '';
  return diffTable(t('cmp.repeat'), ra, rb, t => '<span class="mono">' + esc(t) + '</span>');
}

function renderCmp(an, bn) {
  const a = loaded.get(an), b = loaded.get(bn);
  shown = {a: an, b: bn};
  byId('cmpOut').innerHTML = '<div class="tiles">' + snapHead('A', a, an) + snapHead('B', b, bn) + '</div>' +
    diffTable(t('cmp.domains'), domMap(a), domMap(b)) + diffTable('IP × SNI', mxMap(a), mxMap(b)) + xferDiff(a, b) +
    helloDiff(a, b) + repeatDiff(a, b) + TV.dnsCmpTables(a, b);
}

// Rows tested in both snapshots whose finding changed; nothing when none did
// (a row the test ran on in one snapshot only changed its verdict, and the
// tables above list it).
function xferDiff(a, b) {
  const xa = xferMap(a), xb = xferMap(b);
  for (const k of Array.from(xa.keys())) if (!xb.has(k)) xa.delete(k);
  for (const k of Array.from(xb.keys())) if (!xa.has(k)) xb.delete(k);
  if (!Array.from(xa.keys()).some(k => xa.get(k).xfer !== xb.get(k).xfer)) return '';
  return diffTable(t('f.xfer'), xa, xb, xferSide, (x, y) => x.xfer === y.xfer);
}

// The snapshot or the comparison on show, drawn again in the chosen language.
function redrawShown() {
  if (!shown) return;
  if (shown.view !== undefined) {
    if (loaded.has(shown.view)) renderView(shown.view);
  } else if (loaded.has(shown.a) && loaded.has(shown.b)) {
    renderCmp(shown.a, shown.b);
  }
}

Object.assign(TV, {buildReport, compare, diffTable, makeSnapshot, onFile, onFileClick, openSnapshot, redrawShown,
  renderFiles, saveSnapshot});
})();

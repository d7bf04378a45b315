(function () {
'use strict';

const {S, byId, esc, okV, postScan, prog, startRun, t, toast, trimWs, word} = TV;

// ---------------------------------------------------------------------------
// IP x SNI matrix
// ---------------------------------------------------------------------------

const MX_IPS_DEFAULT = @LIST:mx_ips@.replace(/\r\n/g, '\n').replace(/\n+$/, '');
const MX_SNIS_DEFAULT = @LIST:mx_snis@.replace(/\r\n/g, '\n').replace(/\n+$/, '');
const WHITE_BASE = @LIST:white_base@.split('\n').map(trimWs).filter(Boolean);

const SH = {pass: 'OK', reach: 'ALERT', partial: 'PART', dpi: 'DPI', blocked: 'BLOCK', pend: '…'};

// Most jobs one scan may carry; the native side takes no more.
const MX_MAX = 3000;

function parseLines(id) {
  const out = [];
  for (let line of byId(id).value.split('\n')) {
    const h = line.indexOf('#');
    if (h >= 0) line = line.slice(0, h);
    line = trimWs(line);
    if (line) out.push(line);
  }
  return out;
}

// "?" in the SNI list: a made-up name, fresh for each run (S.mx.rand).
const RAND_SNI = '?';
const RAND_TLDS = ['com', 'net', 'org', 'info', 'io', 'ru'];

function randomSni() {
  const b = new Uint8Array(11);
  crypto.getRandomValues(b);
  let s = '';
  for (let i = 0; i < 10; i += 1) s += String.fromCharCode(97 + b[i] % 26);
  return s + '.' + RAND_TLDS[b[10] % RAND_TLDS.length];
}

function mxName(sni) { return sni === '-' ? '' : sni === RAND_SNI ? S.mx.rand || '' : sni; }
function mxKey(ip, sni) { return ip + '|' + mxName(sni); }

function startMatrix() {
  if (S.cur) return;
  // An address line whose part before "|" is blank gives no native job and
  // would shift every later cell, so it is left out like a comment.
  const ips = parseLines('mxIps').filter(ip => trimWs(ip.split('|')[0]));
  const snis = parseLines('mxSnis');
  if (!ips.length || !snis.length) {
    toast(t('mx.need'));
    return;
  }
  if (ips.length * snis.length > MX_MAX) {
    toast(t('mx.tooMany'));
    return;
  }
  S.mx = {ips: ips, snis: snis, cells: {}, rand: snis.includes(RAND_SNI) ? randomSni() : '', at: {}};
  const jobs = [];
  for (const ip of ips) for (const sni of snis) jobs.push(mxKey(ip, sni));
  renderMx();
  const id = startRun('matrix', jobs.length, 'mx');
  postScan({run: id, mode: 'matrix', timeout: byId('mxTimeout').value, threads: byId('mxThreads').value,
    http: false, jobs: jobs.join('\n'), xfer: byId('mxXfer').checked, hello: TV.helloMode('mx'),
    repeat: TV.repeatOf('mxRepeat')});
  prog();
}

function mxHeadHtml() {
  const m = S.mx;
  return '<tr><th class="corner">IP \\ SNI</th>' +
    m.snis.map(s => '<th>' + (s === '-' ? '∅' : s === RAND_SNI ?
      '<span class="rand" title="' + esc(t('mx.randTip')) + '">? ' + esc(m.rand) + '</span>' : esc(s)) +
      '</th>').join('') + '</tr>';
}

function renderMx() {
  const m = S.mx;
  const tbl = byId('mxTable');
  tbl.tHead.innerHTML = mxHeadHtml();
  tbl.tBodies[0].innerHTML = m.ips.map((ip, i) => '<tr><th class="ipc mono">' + esc(ip) + '</th>' +
    m.snis.map((s, j) => '<td id="mc_' + i + '_' + j + '">' + cellHtml(null) + '</td>').join('') + '</tr>').join('');
  byId('mxNotes').innerHTML = '';
}

// The head and the cells that have a result, in the chosen language.
function redrawMx() {
  if (!byId('mxTable').tHead.rows.length) return;
  byId('mxTable').tHead.innerHTML = mxHeadHtml();
  const at = S.mx.at || {};
  const n = S.mx.snis.length;
  for (const k of Object.keys(at)) {
    const el = byId('mc_' + Math.floor(k / n) + '_' + k % n);
    if (el) el.innerHTML = cellHtml(at[k]);
  }
}

function cellHtml(x) {
  if (!x) return '<span class="cell pend">…</span>';
  let t = String(word(SH, x.verdict));
  if ((x.verdict === 'pass' || x.verdict === 'reach') && x.tlsMs >= 0) t += ' ' + x.tlsMs;
  let tip = 'tcp:' + x.tcp + ' tls:' + x.tls;
  if (x.tlsDetail) tip += ' (' + x.tlsDetail + ')';
  if (x.cert) tip += ' cert:' + x.cert;
  return '<span class="cell ' + esc(x.verdict) + '" title="' + esc(tip) + '">' + esc(t) +
    TV.xferMarkHtml(x) + TV.helloMarksHtml(x) + TV.unstableHtml(x) + '</span>';
}

function onMxRes(m) {
  const n = S.mx.snis.length;
  if (!n || !Number.isInteger(m.idx) || m.idx < 0) return;
  const i = Math.floor(m.idx / n), j = m.idx % n;
  S.mx.cells[m.host + '|' + m.sni] = m;
  if (S.mx.at) S.mx.at[m.idx] = m;
  const el = byId('mc_' + i + '_' + j);
  if (el) el.innerHTML = cellHtml(m);
}

function whiteSet() {
  const w = new Set(WHITE_BASE);
  for (const r of S.domRows) if (r.group === 'ru') w.add(r.host);
  return w;
}

function analyzeMx() {
  const W = whiteSet();
  let allOk = true, seen = 0, anyStuck = false, anyFpCut = false;
  const notes = [];
  for (const ip of S.mx.ips) {
    let wOk = 0, wTot = 0, cOk = 0, cTot = 0, tcpFail = 0, tot = 0, unsteady = 0, nOk;
    // Passing handshakes under a white name whose data froze or crawled: a
    // tunnel there fails. Under a foreign name such a cell counts as cut.
    const stuck = [];
    // The made-up name's cell counts only in the note on the name filter.
    let rnd = null;
    const named = [];
    for (const sni of S.mx.snis) {
      const x = S.mx.cells[mxKey(ip, sni)];
      if (!x) continue;
      if (sni === RAND_SNI) {
        if (S.mx.rand) rnd = x;
        continue;
      }
      named.push([sni, x]);
      tot += 1;
      seen += 1;
      if (x.tcp !== 'ok') tcpFail += 1;
      // Tries that disagree count as cut: the last verdict alone is a coin toss.
      const shaky = TV.unstable(x);
      const ok = okV(x.verdict) && !shaky;
      if (!ok) allOk = false;
      if (shaky && W.has(sni)) unsteady += 1;
      const bad = ok && TV.xferBad(x);
      if (bad) anyStuck = true;
      if (sni === '-') nOk = ok;
      else if (W.has(sni)) { wTot += 1; if (ok) wOk += 1; if (bad) stuck.push(x); }
      else { cTot += 1; if (ok && !bad) cOk += 1; }
    }
    const nn = rnd && nameNote(rnd, named, W);
    if (nn) notes.push('<div class="note ' + nn.cls + '"><b class="mono">' + esc(ip) + '</b> — ' + nn.txt + '</div>');
    if (!tot) continue;
    // A note on the hello's shape goes before the address's other note.
    const fp = TV.helloNote(named.map(p => p[1]));
    if (fp) anyFpCut = true;
    if (fp) notes.push('<div class="note ' + fp.cls + '"><b class="mono">' + esc(ip) + '</b> — ' + fp.txt + '</div>');
    let cls, txt;
    if (tcpFail === tot) {
      cls = 'bad';
      txt = esc(t('mx.tcpDead'));
    } else if (unsteady) {
      cls = 'bad';
      txt = esc(t('mx.unsteady', unsteady, wTot));
    } else if (stuck.length) {
      cls = 'bad';
      txt = TV.xferNote(stuck);
    } else if (wOk > 0 && cOk === 0 && cTot > 0) {
      cls = 'good';
      txt = t('mx.sniFilter.h', wOk, wTot);
    } else if (wOk > 0 && cOk > 0) {
      cls = 'good';
      txt = esc(t('mx.sniOpen', wOk, wTot, cOk, cTot));
    } else if (wOk === 0 && cOk > 0) {
      cls = 'warn';
      txt = esc(t('mx.odd'));
    } else {
      cls = 'bad';
      txt = esc(t('mx.tlsCut', t(nOk === true ? 'mx.noSniPass' : 'mx.noSniCut')));
    }
    notes.push('<div class="note ' + cls + '"><b class="mono">' + esc(ip) + '</b> — ' + txt + '</div>');
  }
  if (seen > 0 && allOk && anyStuck) {
    notes.unshift('<div class="note warn">' + t('xf.allStuck.h') + '</div>');
  } else if (seen > 0 && allOk && anyFpCut) {
    notes.unshift('<div class="note warn">' + t('hello.allCut.h') + '</div>');
  } else if (seen > 0 && allOk) {
    notes.unshift('<div class="note warn">' + t('mx.allOk.h') + '</div>');
  }
  return notes.join('');
}

// The kind of name filter of one address, told by the made-up name's cell:
// an allow-list, a block-list (naming the foreign names cut) or none.
function nameNote(rnd, named, W) {
  // Tries that disagree make any one verdict a coin toss: no list is read then.
  if (TV.unstable(rnd) || named.some(p => TV.unstable(p[1]))) {
    return {cls: 'warn', txt: esc(t('mx.nameShaky'))};
  }
  const rOk = okV(rnd.verdict);
  let all = rOk, wOk = 0, cOk = 0;
  const cut = [];
  for (const [sni, x] of named) {
    const ok = okV(x.verdict);
    if (!ok) all = false;
    if (sni === '-') continue;
    if (W.has(sni)) { if (ok) wOk += 1; }
    else if (ok) cOk += 1;
    else cut.push(sni);
  }
  if (all) return {cls: 'good', txt: esc(t('mx.nameNone'))};
  if (!rOk && wOk > 0 && cOk === 0) {
    return {cls: 'warn', txt: t('mx.nameWhite.h')};
  }
  if (rOk && cut.length) {
    return {cls: 'warn', txt: t('mx.nameBlack.h', cut.map(esc).join(', '))};
  }
  return null;
}

function renderMxNotes() {
  byId('mxNotes').innerHTML = analyzeMx();
}

function fillFromDomains() {
  const seen = new Set(parseLines('mxIps'));
  const add = [];
  for (const g of ['host', 'cloud', 'ru', 'custom']) {
    for (const r of S.domRows) {
      if (add.length >= 12) break;
      const x = r.res;
      if (r.group !== g || !x || !okV(x.verdict) || !x.ip) continue;
      const ip = String(x.ip);
      if (seen.has(ip)) continue;
      seen.add(ip);
      add.push(ip + '   # ' + r.host);
    }
  }
  if (!add.length) {
    toast(t('mx.noPassed'));
    return;
  }
  const ta = byId('mxIps');
  ta.value = ta.value.replace(/\s+$/, '') + '\n' + t('mx.fillHead') + '\n' + add.join('\n');
  toast(t('mx.added', add.length));
}

Object.assign(TV, {RAND_SNI, mxName, MX_IPS_DEFAULT, MX_SNIS_DEFAULT, SH, WHITE_BASE, analyzeMx, fillFromDomains,
  mxKey, onMxRes, redrawMx, renderMxNotes, startMatrix});
})();

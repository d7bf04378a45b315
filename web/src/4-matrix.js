
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

function mxKey(ip, sni) { return ip + '|' + (sni === '-' ? '' : sni); }

function startMatrix() {
  if (S.cur) return;
  // An address line whose part before "|" is blank gives no native job and
  // would shift every later cell, so it is left out like a comment.
  const ips = parseLines('mxIps').filter(ip => trimWs(ip.split('|')[0]));
  const snis = parseLines('mxSnis');
  if (!ips.length || !snis.length) {
    toast('Нужны и IP, и SNI');
    return;
  }
  if (ips.length * snis.length > MX_MAX) {
    toast('Слишком много комбинаций (макс. 3000)');
    return;
  }
  S.mx = {ips: ips, snis: snis, cells: {}};
  const jobs = [];
  for (const ip of ips) for (const sni of snis) jobs.push(mxKey(ip, sni));
  renderMx();
  const id = startRun('matrix', jobs.length, 'mx');
  post('scan', id, 'matrix', byId('mxTimeout').value, byId('mxThreads').value, 0, jobs.join('\n'));
  prog();
}

function renderMx() {
  const m = S.mx;
  const t = byId('mxTable');
  t.tHead.innerHTML = '<tr><th class="corner">IP \\ SNI</th>' +
    m.snis.map(s => '<th>' + (s === '-' ? '∅' : esc(s)) + '</th>').join('') + '</tr>';
  t.tBodies[0].innerHTML = m.ips.map((ip, i) => '<tr><th class="ipc mono">' + esc(ip) + '</th>' +
    m.snis.map((s, j) => '<td id="mc_' + i + '_' + j + '">' + cellHtml(null) + '</td>').join('') + '</tr>').join('');
  byId('mxNotes').innerHTML = '';
}

function cellHtml(x) {
  if (!x) return '<span class="cell pend">…</span>';
  let t = String(word(SH, x.verdict));
  if ((x.verdict === 'pass' || x.verdict === 'reach') && x.tlsMs >= 0) t += ' ' + x.tlsMs;
  let tip = 'tcp:' + x.tcp + ' tls:' + x.tls;
  if (x.tlsDetail) tip += ' (' + x.tlsDetail + ')';
  if (x.cert) tip += ' cert:' + x.cert;
  return '<span class="cell ' + esc(x.verdict) + '" title="' + esc(tip) + '">' + esc(t) + '</span>';
}

function onMxRes(m) {
  const n = S.mx.snis.length;
  if (!n || !Number.isInteger(m.idx) || m.idx < 0) return;
  const i = Math.floor(m.idx / n), j = m.idx % n;
  S.mx.cells[m.host + '|' + m.sni] = m;
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
  let allOk = true, seen = 0;
  const notes = [];
  for (const ip of S.mx.ips) {
    let wOk = 0, wTot = 0, cOk = 0, cTot = 0, tcpFail = 0, tot = 0, nOk;
    for (const sni of S.mx.snis) {
      const x = S.mx.cells[mxKey(ip, sni)];
      if (!x) continue;
      tot += 1;
      seen += 1;
      if (x.tcp !== 'ok') tcpFail += 1;
      const ok = okV(x.verdict);
      if (!ok) allOk = false;
      if (sni === '-') nOk = ok;
      else if (W.has(sni)) { wTot += 1; if (ok) wOk += 1; }
      else { cTot += 1; if (ok) cOk += 1; }
    }
    if (!tot) continue;
    let cls, txt;
    if (tcpFail === tot) {
      cls = 'bad';
      txt = 'TCP:443 до этого IP вообще не проходит — адрес отрезан (или хост лежит).';
    } else if (wOk > 0 && cOk === 0 && cTot > 0) {
      cls = 'good';
      txt = 'Фильтр по <b>SNI</b>: белые имена проходят (' + wOk + '/' + wTot + '), чужие режутся. Хороший знак: ' +
        'сервер где угодно + маскировка под белый SNI (Reality) может сработать.';
    } else if (wOk > 0 && cOk > 0) {
      cls = 'good';
      txt = 'Пускает и белые, и чужие SNI (' + wOk + '/' + wTot + ' белых, ' + cOk + '/' + cTot + ' чужих). ' +
        'SNI не фильтруется — IP белый или фильтр сейчас снят.';
    } else if (wOk === 0 && cOk > 0) {
      cls = 'warn';
      txt = 'Странно: белые SNI режутся, чужие проходят. Проверь таймауты и повтори.';
    } else {
      cls = 'bad';
      txt = 'TCP есть, но TLS режется при любом SNI (' + (nOk === true ? 'даже без SNI проходит' : 'без SNI тоже нет') +
        ') — похоже на DPI или блок по IP.';
    }
    notes.push('<div class="note ' + cls + '"><b class="mono">' + esc(ip) + '</b> — ' + txt + '</div>');
  }
  if (seen > 0 && allOk) {
    notes.unshift('<div class="note warn">Всё проходит, похоже, белые списки сейчас <b>сняты</b>. ' +
      'Сохрани снимок как эталон, потом повторишь скан при блокировке и сравнишь.</div>');
  }
  return notes.join('');
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
    toast('Нет прошедших доменов, сначала сделай скан доменов');
    return;
  }
  const ta = byId('mxIps');
  ta.value = ta.value.replace(/\s+$/, '') + '\n# IP прошедших доменов\n' + add.join('\n');
  toast('Добавлено IP: ' + add.length);
}

H.onMxRes = onMxRes;
H.renderMxNotes = renderMxNotes;

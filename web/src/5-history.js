
// ---------------------------------------------------------------------------
// Snapshots, comparison, report
// ---------------------------------------------------------------------------

let pending = null;          // null, {view: name} or {a: name, b: name}
const loaded = new Map();    // file name -> parsed snapshot

const arr = x => (Array.isArray(x) ? x : []);
const isObj = x => x !== null && typeof x === 'object' && !Array.isArray(x);
const str = x => (x === undefined || x === null ? '' : String(x));

function makeSnapshot(label) {
  const st = calcStatus(S.domRows);
  return {
    v: 1,
    created: new Date().toISOString(),
    label: str(label),
    status: {k: st.k, txt: st.txt},
    domains: S.domRows.filter(r => r.res).map(r => {
      const x = r.res;
      return {host: x.host, group: r.group, verdict: x.verdict, ip: x.ip, dns: x.dns, tcp: x.tcp, tls: x.tls,
        http: x.http, httpCode: x.httpCode, tlsMs: x.tlsMs, cert: x.cert, certOk: x.certOk};
    }),
    matrix: {
      ips: S.mx.ips.slice(),
      snis: S.mx.snis.slice(),
      cells: Object.keys(S.mx.cells).map(k => {
        const c = S.mx.cells[k];
        return {ip: c.host, sni: c.sni, verdict: c.verdict, tcp: c.tcp, tls: c.tls, tlsMs: c.tlsMs};
      })
    },
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
    toast('Нечего сохранять — сначала сделай скан');
    return;
  }
  post('save', snapshotName(label), JSON.stringify(s));
}

function buildReport() {
  const L = [];
  L.push('Tarnveil ' + byId('ver').textContent + ' | ' + ruDateTime(new Date()));
  L.push('Статус: ' + calcStatus(S.domRows).txt);
  const ii = S.ipinfo;
  if (ii && ii.error) L.push('Выход: данные недоступны (' + IPINFO_HOST + ')');
  else if (ii) L.push('Выход: ' + str(ii.ip) + ' | ' + str(ii.isp) + ' | ' + str(ii.as) + ' | ' + str(ii.city));
  const done = S.domRows.filter(r => r.res);
  if (done.length) {
    L.push('', '== Домены ==');
    for (const r of done) {
      const x = r.res;
      L.push('[' + r.group + '] ' + r.host + ' -> ' + word(VL, x.verdict) + ' (ip ' + (x.ip || '-') +
        ', dns ' + x.dns + ', tcp ' + x.tcp + ', tls ' + x.tls + (x.tlsMs >= 0 ? ' ' + x.tlsMs + 'ms' : '') +
        (x.http === 'ok' ? ', http ' + x.httpCode : '') + ')');
    }
  }
  if (Object.keys(S.mx.cells).length) {
    L.push('', '== IP x SNI ==');
    for (const ip of S.mx.ips) {
      L.push(ip + ': ' + S.mx.snis.map(sni => {
        const x = S.mx.cells[mxKey(ip, sni)];
        return (sni === '-' ? 'noSNI' : sni) + '=' + (x ? word(SH, x.verdict) : '?');
      }).join(' '));
    }
  }
  if (S.basics.length) {
    L.push('', '== Базовый тест ==');
    for (const n of S.basics) {
      L.push(n.group + ' | ' + n.name + ' -> ' + n.state + (n.ms >= 0 ? ' ' + n.ms + 'ms' : '') +
        (n.detail ? ' (' + n.detail + ')' : ''));
    }
  }
  return L.join('\n');
}

let shownFiles = [];

function renderFiles() {
  shownFiles = arr(S.files).filter(isObj).slice().sort((a, b) => str(b.name).localeCompare(str(a.name)));
  const el = byId('fileList');
  if (!shownFiles.length) {
    el.innerHTML = '<div class="empty">Снимков пока нет. Нажми «Сохранить снимок» вверху.</div>';
    return;
  }
  el.innerHTML = shownFiles.map((f, i) => {
    const name = str(f.name);
    const kb = ((Number(f.size) || 0) / 1024).toFixed(1);
    return '<div class="frow"><span class="fname">' + esc(name) + '</span><span class="fsize">' + kb + ' КБ</span>' +
      (name === S.pickA ? '<span class="ftag a">A</span>' : '') +
      (name === S.pickB ? '<span class="ftag b">B</span>' : '') +
      '<button class="sm" data-act="a" data-i="' + i + '">A</button>' +
      '<button class="sm" data-act="b" data-i="' + i + '">B</button>' +
      '<button class="sm" data-act="view" data-i="' + i + '">Смотреть</button>' +
      '<button class="sm del" data-act="del" data-i="' + i + '">×</button></div>';
  }).join('');
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
      pending = {view: name};
      post('load', name);
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
    toast('Выбери снимки A и B');
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
  // Anything but a JSON object is as unusable as broken JSON.
  if (!isObj(s)) {
    toast('Файл повреждён: ' + name);
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

function snapHead(tag, s, name) {
  const st = isObj(s.status) && s.status.txt !== undefined ? str(s.status.txt) : '?';
  const d = new Date(s.created);
  const when = isNaN(d.getTime()) ? '?' : ruDateTime(d);
  const label = str(s.label);
  return '<div class="tile"><div class="big2"><b>' + esc(tag) + ': ' + esc(st) + '</b></div><div class="cap">' +
    esc(name) + ' · ' + esc(when) + (label ? ' · ' + esc(label) : '') + '</div></div>';
}

function renderView(name) {
  const s = loaded.get(name);
  let h = '<div class="tiles">' + snapHead('Снимок', s, name) + '</div>';
  const ii = s.ipinfo;
  if (isObj(ii) && !ii.error) {
    h += '<div class="note">Выход: <span class="mono">' + esc(ii.ip) + '</span> · ' + esc(ii.isp) + ' · ' +
      esc(ii.as) + '</div>';
  }
  h += '<div class="tblWrap"><table class="tbl"><thead><tr><th>Домен</th><th>Группа</th><th>Вердикт</th><th>IP</th>' +
    '</tr></thead><tbody>' + arr(s.domains).filter(isObj).map(d => '<tr><td class="mono">' + esc(d.host) +
    '</td><td><span class="gtag">' + esc(d.group) + '</span></td><td>' + verdictHtml(d.verdict) + '</td><td>' +
    (d.ip ? '<span class="mono">' + esc(d.ip) + '</span>' : DASH) + '</td></tr>').join('') + '</tbody></table></div>';
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
  for (const c of cells) if (isObj(c)) m.set(str(c.ip) + ' × ' + (c.sni ? str(c.sni) : '∅'), c.verdict);
  return m;
}

function diffTable(title, rowsA, rowsB) {
  const keys = Array.from(rowsA.keys());
  for (const k of rowsB.keys()) if (!rowsA.has(k)) keys.push(k);
  const changed = keys.filter(k => !rowsA.has(k) || !rowsB.has(k) || rowsA.get(k) !== rowsB.get(k));
  let h = '<div class="cmpH"><b>' + esc(title) + ': изменилось ' + changed.length + ' из ' + keys.length + '</b></div>';
  if (!changed.length) return h + '<div class="note good">Без изменений.</div>';
  const side = (m, k) => verdictHtml(m.has(k) ? m.get(k) : 'pend');
  return h + '<div class="tblWrap"><table class="tbl"><thead><tr><th>Что</th><th>A (было)</th><th></th>' +
    '<th>B (стало)</th></tr></thead><tbody>' + changed.map(k => '<tr><td class="mono">' + esc(k) + '</td><td>' +
    side(rowsA, k) + '</td><td class="arrow">→</td><td>' + side(rowsB, k) + '</td></tr>').join('') +
    '</tbody></table></div>';
}

function renderCmp(an, bn) {
  const a = loaded.get(an), b = loaded.get(bn);
  byId('cmpOut').innerHTML = '<div class="tiles">' + snapHead('A', a, an) + snapHead('B', b, bn) + '</div>' +
    diffTable('Домены', domMap(a), domMap(b)) + diffTable('IP × SNI', mxMap(a), mxMap(b));
}

H.renderFiles = renderFiles;
H.onFile = onFile;
H.saveSnapshot = saveSnapshot;

// ---------------------------------------------------------------------------
// Help
// ---------------------------------------------------------------------------

function renderHelp() {
  const meaning = [
    ['pass', 'TLS-рукопожатие и HTTP прошли.'],
    ['reach', 'сервер ответил TLS-алертом: пакеты дошли, SNI не режется.'],
    ['partial', 'рукопожатие есть, а данные нет.'],
    ['dpi', 'TCP открылся, а TLS сброшен или молчит: так выглядит фильтр по SNI.'],
    ['blocked', 'нет DNS или TCP.']
  ];
  byId('helpBody').innerHTML =
    '<div class="card"><b>Вердикты</b><p>' + meaning.map(m => verdictHtml(m[0]) + ' — ' + m[1]).join(' ') + '</p>' +
    '<p><b>Статус в шапке</b> считается по группам: <i>world</i> проходит — ОТКРЫТО; <i>world</i> режется, ' +
    'а <i>ru</i> нет — БЕЛЫЕ СПИСКИ.</p>' +
    '<p><b>Матрица IP × SNI</b> отвечает на главный вопрос: чем именно режут.</p>' +
    '<div class="note"><b>Фильтр по SNI.</b> Контрольный IP (например 1.1.1.1) пропускает белые SNI и режет чужие. ' +
    'Значит, имя сайта в TLS можно подделать под белое, и сервер подойдёт почти любой.</div>' +
    '<div class="note"><b>Фильтр по IP.</b> Проходят только IP из белых диапазонов, и SNI ничего не решает. ' +
    'Сервер придётся брать там, где адреса белые (облака Яндекса, VK и другие российские провайдеры).</div>' +
    '<div class="note warn"><b>Ограничение.</b> Сканер использует TLS Windows (SChannel), поэтому ClientHello ' +
    'отличается от браузерного. Если DPI смотрит на отпечаток TLS, результат может не совпасть с реальным ' +
    'туннелем. Это первая оценка, а не гарантия.</div>' +
    '<p><b>План.</b> 1) Сохрани эталонный снимок, пока всё открыто. 2) При блокировке прогони домены и матрицу ' +
    'ещё раз. 3) Сравни снимки на вкладке «История». Дальше собираем туннель под то, что реально проходит.</p></div>';
}

// ---------------------------------------------------------------------------
// Start-up
// ---------------------------------------------------------------------------

$$('.tab').forEach(b => b.addEventListener('click', () => showTab(b.dataset.v)));
$$('.stopBtn').forEach(b => b.addEventListener('click', () => post('cancel')));
byId('btnBasics').addEventListener('click', startBasics);
byId('btnDom').addEventListener('click', startDomains);
byId('autoOn').addEventListener('change', onAutoToggle);
byId('btnMx').addEventListener('click', startMatrix);
byId('btnMxFill').addEventListener('click', fillFromDomains);
byId('btnSnap').addEventListener('click', () => saveSnapshot(byId('snapLabel').value.trim()));
byId('btnCopy').addEventListener('click', () => post('copy', buildReport()));
byId('btnRefresh').addEventListener('click', () => post('list'));
byId('btnFolder').addEventListener('click', () => post('openfolder'));
byId('btnCmp').addEventListener('click', compare);
byId('fileList').addEventListener('click', onFileClick);

if (window.chrome && window.chrome.webview) {
  window.chrome.webview.addEventListener('message', e => onMsg(e && e.data));
}

renderHelp();
byId('domList').value = DOM_DEFAULT;
byId('mxIps').value = MX_IPS_DEFAULT;
byId('mxSnis').value = MX_SNIS_DEFAULT;
renderFiles();

// Test builds of the harness set window.__tvTest before the page loads; the
// page then hands over its pure rules. Nothing is exposed otherwise.
if (window.__tvTest && typeof window.__tvTest === 'object') {
  window.__tvTest.api = {S: S, calcStatus: calcStatus, analyzeMx: analyzeMx, makeSnapshot: makeSnapshot,
    buildReport: buildReport, WHITE_BASE: WHITE_BASE};
}

post('ready');
})();
</script>
</body>
</html>

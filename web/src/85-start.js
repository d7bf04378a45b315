(function () {
'use strict';

const {$$, DOM_DEFAULT, MX_IPS_DEFAULT, MX_SNIS_DEFAULT, S, WHITE_BASE, analyzeMx, buildReport,
  byId, calcStatus, compare, fillFromDomains, makeSnapshot, onAutoToggle, onFileClick, onMsg,
  post, renderFiles, renderHelp, saveSnapshot, showTab, startBasics, startDomains, startMatrix} = TV;

// ---------------------------------------------------------------------------
// Start-up
// ---------------------------------------------------------------------------

$$('.tab').forEach(b => b.addEventListener('click', () => showTab(b.dataset.v)));
$$('.stopBtn').forEach(b => b.addEventListener('click', () => post('cancel')));
byId('btnBasics').addEventListener('click', startBasics);
byId('btnDom').addEventListener('click', startDomains);
// The transfer test reads on after the HTTP answer: it needs the HTTP check.
byId('domHttp').addEventListener('change', () => { byId('domXfer').disabled = !byId('domHttp').checked; });
byId('autoOn').addEventListener('change', onAutoToggle);
byId('btnMx').addEventListener('click', startMatrix);
byId('btnMxFill').addEventListener('click', fillFromDomains);
byId('btnSnap').addEventListener('click', () => saveSnapshot(byId('snapLabel').value.trim()));
byId('btnCopy').addEventListener('click', () => post('copy', buildReport()));
byId('btnRefresh').addEventListener('click', () => post('list'));
byId('btnFolder').addEventListener('click', () => post('openfolder'));
byId('btnCmp').addEventListener('click', compare);
byId('fileList').addEventListener('click', onFileClick);
byId('timeline').addEventListener('click', TV.onTimelineClick);
byId('timeline').addEventListener('keydown', TV.onTimelineKey);
// The switch keeps the choice on the native side (the page stores nothing).
$$('.langSw button').forEach(b => b.addEventListener('click', () => {
  if (b.dataset.lang === TV.getLang()) return;
  TV.setLang(b.dataset.lang);
  post('lang', b.dataset.lang);
}));

// The default lists with their comment lines in language `l`.
const LIST_KEYS = ['list.ru', 'list.cloud', 'list.host', 'list.world', 'list.ipCtl', 'list.ipOwn', 'list.ipWhite',
  'list.ipAdd'];
function localList(text, l) {
  return text.split('\n').map(line => {
    const k = LIST_KEYS.find(key => TV.ru(key) === line);
    return k ? TV.TEXTS[l][k] : line;
  }).join('\n');
}

// A list field that still holds a default list follows the language; one
// the user changed stays as it is.
function relist() {
  for (const [id, def] of [['domList', DOM_DEFAULT], ['mxIps', MX_IPS_DEFAULT], ['mxSnis', MX_SNIS_DEFAULT]]) {
    const el = byId(id);
    if (TV.LANGS.some(l => el.value === localList(def, l))) el.value = localList(def, TV.getLang());
  }
}

// Draws again, in the chosen language, every view that holds texts.
TV.relang = () => {
  relist();
  renderHelp();
  TV.renderBasics();
  TV.renderDomTable();
  TV.renderDomStats();
  TV.renderLog();
  TV.redrawMx();
  // Notes and warnings are drawn at the end of a run; during one they wait.
  if (!S.cur) {
    if (byId('mxNotes').innerHTML) TV.renderMxNotes();
    if (byId('domWarn').innerHTML || byId('bsWarn').innerHTML) TV.vpnBanner();
  }
  ['bs', 'dom', 'mx'].forEach(TV.endText);
  renderFiles();
  TV.redrawShown();
};

if (window.chrome && window.chrome.webview) {
  window.chrome.webview.addEventListener('message', e => onMsg(e && e.data));
}

TV.applyStatic();
renderHelp();
TV.renderDomStats();
TV.renderLog();
byId('domList').value = DOM_DEFAULT;
byId('mxIps').value = MX_IPS_DEFAULT;
byId('mxSnis').value = MX_SNIS_DEFAULT;
renderFiles();

// Test builds of the harness set window.__tvTest before the page loads; the
// page then hands over its pure rules. Nothing is exposed otherwise.
if (window.__tvTest && typeof window.__tvTest === 'object') {
  window.__tvTest.api = {S: S, calcStatus: calcStatus, analyzeMx: analyzeMx, makeSnapshot: makeSnapshot,
    buildReport: buildReport, WHITE_BASE: WHITE_BASE, TEXTS: TV.TEXTS, setLang: TV.setLang,
    vpnSuspect: TV.vpnSuspect, dnsSuspect: TV.dnsSuspect};
}

post('ready');

})();

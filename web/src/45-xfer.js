(function () {
'use strict';

const {DASH, esc, t} = TV;

// ---------------------------------------------------------------------------
// The transfer test (16–20 КБ): its words (probe/transfer_finding.h) and how
// a row, a cell, a note and the report read them
// ---------------------------------------------------------------------------

// Findings that mean a tunnel to the address will not work.
const XFER_BAD = ['frozen', 'slow'];

function kb(n) { return Math.max(1, Math.round(Number(n) / 1024)); }

function hasXfer(x) { return !!x && typeof x.xfer === 'string'; }

function xferBad(x) { return hasXfer(x) && XFER_BAD.includes(x.xfer); }

// The direction the finding is about: the one whose word it took.
function xferDir(x) {
  if (x.down !== x.xfer && x.up === x.xfer) return {arrow: '↑', bytes: x.upBytes, kbps: x.upKbps};
  return {arrow: '↓', bytes: x.downBytes, kbps: x.downKbps};
}

function xferText(x) {
  const d = xferDir(x);
  switch (x.xfer) {
    case 'ok': return t('xf.ok');
    case 'frozen': return t('xf.frozen') + d.arrow + (d.bytes > 0 ? '≈' + kb(d.bytes) + ' ' + t('u.kb') : '');
    case 'slow': return t('xf.slow') + d.arrow + (d.kbps >= 0 ? d.kbps + ' ' + t('u.kbps') : '');
    case 'short': return t('xf.short');
    case 'reset': return t('xf.reset');
    case 'timeout': return t('xf.timeout');
    default: return '—';
  }
}

function dirTip(name, w, bytes, ms, kbps) {
  let s = name + ': ' + w;
  if (bytes >= 0) s += ', ' + bytes + ' ' + t('u.b');
  if (ms >= 0) s += ', ' + ms + ' ' + t('u.ms');
  if (kbps >= 0) s += ', ' + kbps + ' ' + t('u.kbps');
  return s;
}

function xferTip(x) {
  return dirTip(t('xf.down'), x.down, x.downBytes, x.downMs, x.downKbps) + '; ' +
    dirTip(t('xf.up'), x.up, x.upBytes, x.upMs, x.upKbps) +
    (x.upAcks === false ? t('xf.noAcks') : '');
}

// The domain table's column.
function xferCellHtml(x) {
  if (!hasXfer(x)) return DASH;
  return '<span class="xf ' + esc(x.xfer) + '" title="' + esc(xferTip(x)) + '">' + esc(xferText(x)) + '</span>';
}

// A matrix cell's mark, after its verdict.
function xferMarkHtml(x) {
  if (!hasXfer(x) || x.xfer === 'ok' || x.xfer === 'skip') return '';
  const m = x.xfer === 'frozen' ? '❄' : x.xfer === 'slow' ? '⏳' : '·';
  return '<span class="xm xf ' + esc(x.xfer) + '" title="' + esc(xferText(x) + ' — ' + xferTip(x)) + '">' +
    m + '</span>';
}

// The keys a snapshot keeps of a finding (none when the test did not run).
function xferKeys(x) {
  if (!hasXfer(x)) return {};
  return {xfer: x.xfer, down: x.down, downBytes: x.downBytes, downKbps: x.downKbps,
    up: x.up, upBytes: x.upBytes, upKbps: x.upKbps};
}

// The matrix note for an address whose passing handshakes froze or were
// throttled: it replaces the notes that would call the address good.
function xferNote(stuck) {
  const frozen = stuck.filter(x => x.xfer === 'frozen');
  if (frozen.length) {
    const sizes = frozen.map(x => xferDir(x).bytes).filter(b => b > 0);
    const at = sizes.length ? t('xf.at', kb(Math.min(...sizes))) : '';
    return t('xf.noteFrozen.h', at);
  }
  const rates = stuck.map(x => xferDir(x).kbps).filter(k => k >= 0);
  const rate = rates.length ? t('xf.rate', Math.min(...rates)) : '';
  return t('xf.noteSlow.h', rate);
}

Object.assign(TV, {xferBad, xferCellHtml, xferKeys, xferMarkHtml, xferNote, xferText});
})();

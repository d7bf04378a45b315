(function () {
'use strict';

const {S, byId, esc, post, t, wire} = TV;

// ---------------------------------------------------------------------------
// Status timeline: one mark per saved snapshot, placed by its time (or by the
// time of day) and coloured by the status it holds. The summaries come from
// reading the files themselves; only the newest TL_MAX are read.
// ---------------------------------------------------------------------------

const TL_MAX = 200;
const W = 1000, H = 74, PAD = 18, Y = 30;
const sums = new Map();     // file name -> {t, k, txt, label} or null (unreadable)
const asked = new Set();    // names read for the timeline alone
let byDay = false;          // x = time of day instead of the calendar

const KNOWN = new Set(['open', 'wl', 'part', 'dead', 'unk']);

// The snapshot's time: its `created`, else the stamp in its name.
function whenOf(name, s) {
  const t = Date.parse(s && typeof s.created === 'string' ? s.created : '');
  if (!Number.isNaN(t)) return t;
  const m = /(\d{4})(\d{2})(\d{2})_(\d{2})(\d{2})(\d{2})/.exec(name);
  return m ? new Date(+m[1], m[2] - 1, +m[3], +m[4], +m[5], +m[6]).getTime() : NaN;
}

function summarize(name, s) {
  if (s === null || typeof s !== 'object' || Array.isArray(s)) return null;
  const st = s.status !== null && typeof s.status === 'object' ? s.status : {};
  const k = KNOWN.has(st.k) ? st.k : 'unk';
  const t = whenOf(name, s);
  if (Number.isNaN(t)) return null;
  return {t, k, txt: st.txt === undefined || st.txt === null ? '?' : String(st.txt),
    label: s.label === undefined || s.label === null ? '' : String(s.label)};
}

// A snapshot arrived (for the timeline or for the user): keep its summary.
// Returns whether the timeline alone had asked for it.
function timelineFile(name, s) {
  sums.set(name, summarize(name, s));
  const mine = asked.delete(name);
  renderTimeline();
  return mine;
}

function files() {
  return (Array.isArray(S.files) ? S.files : []).filter(f => f && typeof f === 'object')
    .map(f => String(f.name === undefined || f.name === null ? '' : f.name)).filter(Boolean)
    .sort((a, b) => b.localeCompare(a)).slice(0, TL_MAX);
}

// Read the files the timeline has no summary of yet.
function wantSummaries() {
  for (const name of files()) {
    if (sums.has(name) || asked.has(name)) continue;
    asked.add(name);
    post('load', name);
  }
}

function xOf(t, lo, hi) {
  if (byDay) {
    const d = new Date(t);
    const sec = d.getHours() * 3600 + d.getMinutes() * 60 + d.getSeconds();
    return PAD + (W - 2 * PAD) * sec / 86400;
  }
  return hi === lo ? W / 2 : PAD + (W - 2 * PAD) * (t - lo) / (hi - lo);
}

function axisLabel(x, text, anchor) {
  return '<text x="' + x.toFixed(1) + '" y="' + (H - 6) + '" text-anchor="' + anchor + '">' + esc(text) + '</text>';
}

function renderTimeline() {
  const el = byId('timeline');
  if (!el) return;
  const names = files();
  const marks = names.map(n => ({name: n, s: sums.get(n)})).filter(m => m.s);
  if (!marks.length) {
    el.hidden = true;
    el.innerHTML = '';
    return;
  }
  el.hidden = false;
  const ts = marks.map(m => m.s.t);
  const lo = Math.min(...ts), hi = Math.max(...ts);
  let axis;
  if (byDay) {
    axis = [0, 6, 12, 18, 24].map(h => {
      const x = PAD + (W - 2 * PAD) * h / 24;
      return '<line class="tick" x1="' + x + '" x2="' + x + '" y1="' + (Y - 14) + '" y2="' + (Y + 14) + '"/>' +
        axisLabel(x, String(h).padStart(2, '0') + ':00', h === 0 ? 'start' : h === 24 ? 'end' : 'middle');
    }).join('');
  } else {
    axis = axisLabel(hi === lo ? W / 2 : PAD, TV.dateTime(new Date(lo)), hi === lo ? 'middle' : 'start') +
      (hi === lo ? '' : axisLabel(W - PAD, TV.dateTime(new Date(hi)), 'end'));
  }
  // Oldest first, so the newest mark is drawn on top.
  const dots = marks.slice().sort((a, b) => a.s.t - b.s.t).map(m => {
    const tip = wire(m.s.txt) + (m.s.label ? ' · ' + m.s.label : '') + ' · ' + TV.dateTime(new Date(m.s.t));
    return '<circle class="tlm s-' + m.s.k + '" data-name="' + esc(m.name) + '" cx="' +
      xOf(m.s.t, lo, hi).toFixed(1) + '" cy="' + Y + '" r="7" tabindex="0" role="button" aria-label="' + esc(tip) +
      '"><title>' + esc(tip) + '</title></circle>';
  }).join('');
  el.innerHTML = '<div class="tlHead"><span class="mut">' + esc(t('tl.head', marks.length) +
    (names.length < (Array.isArray(S.files) ? S.files.length : 0) ? t('tl.last') : '')) + '</span>' +
    '<button class="sm" id="tlMode">' + esc(t(byDay ? 'tl.byDate' : 'tl.byDay')) + '</button></div>' +
    '<svg class="tl" viewBox="0 0 ' + W + ' ' + H + '" role="img" ' +
    'aria-label="' + esc(t('tl.aria')) + '">' +
    '<line class="axis" x1="' + PAD + '" x2="' + (W - PAD) + '" y1="' + Y + '" y2="' + Y + '"/>' + axis + dots + '</svg>';
}

function onTimelineClick(ev) {
  if (ev.target.closest('#tlMode')) {
    byDay = !byDay;
    renderTimeline();
    return;
  }
  const m = ev.target.closest('circle.tlm');
  if (m && m.dataset.name) TV.openSnapshot(m.dataset.name);
}

function onTimelineKey(ev) {
  const m = ev.target.closest && ev.target.closest('circle.tlm');
  if (m && (ev.key === 'Enter' || ev.key === ' ')) {
    ev.preventDefault();
    TV.openSnapshot(m.dataset.name);
  }
}

// The list changed: forget deleted files and, while History is shown, read
// new ones (the list also comes at start, when nobody looks at it).
function timelineFiles() {
  const now = new Set(files());
  for (const n of [...sums.keys()]) if (!now.has(n)) sums.delete(n);
  const hist = byId('v-history');
  if (hist && hist.classList.contains('active')) wantSummaries();
  renderTimeline();
}

Object.assign(TV, {onTimelineClick, onTimelineKey, renderTimeline, timelineFile, timelineFiles});
})();

(function () {
'use strict';

const {byId, esc, t} = TV;

// ---------------------------------------------------------------------------
// ClientHello shapes: the "Отпечаток" option, the L/C/F marks, the note on a
// filter by TLS fingerprint, and their snapshot keys and report tokens
// ---------------------------------------------------------------------------

// The mode words of the scan command and of the res key `hello`
// (probe/hello_finding.h). "lib" is today's handshake and adds no keys.
const HELLO_MODES = ['lib', 'chrome', 'firefox', 'all'];

// The shapes in the order of their marks; `of` reads a shape's outcome from
// a res message (or a snapshot entry, which keeps the words only).
const SHAPES = [
  {m: 'L', get name() { return t('hello.lib'); }, get gen() { return t('hello.libGen'); }, modes: ['all'],
    of: x => [x.tls, x.tlsMs, x.tlsDetail]},
  {m: 'C', name: 'Chrome', gen: 'Chrome', modes: ['chrome', 'all'],
    of: x => [x.helloChrome, x.helloChromeMs, x.helloChromeDetail]},
  {m: 'F', name: 'Firefox', gen: 'Firefox', modes: ['firefox', 'all'],
    of: x => [x.helloFirefox, x.helloFirefoxMs, x.helloFirefoxDetail]}
];

// The note's texts (32-texts.js); {0} and {1} are lists of shape names (genitive).
const HT = {
  note: 'hello.note.h',
  and: 'hello.and',
  chromeCutFirefoxPasses: 'hello.chromeCutFirefoxPasses',
  chromeCut: 'hello.chromeCut',
  chromePassesLibCut: 'hello.chromePassesLibCut',
  chromePasses: 'hello.chromePasses',
  other: 'hello.other'
};

const passes = w => w === 'ok' || w === 'alert'; // the server answered: the filter let it through
const isCut = w => w === 'reset' || w === 'timeout';

function modeOf(x) {
  return x && typeof x.hello === 'string' && HELLO_MODES.includes(x.hello) && x.hello !== 'lib' ? x.hello : '';
}

// The shapes that ran for a result, none for today's handshake.
function shapesOf(x) {
  const mode = modeOf(x);
  return mode ? SHAPES.filter(s => s.modes.includes(mode)) : [];
}

// The option's value for the view with this id prefix ("dom", "mx").
function helloMode(pfx) {
  const el = byId(pfx + 'Hello');
  return el && HELLO_MODES.includes(el.value) ? el.value : 'lib';
}

function markClass(w) {
  if (passes(w)) return w;
  if (isCut(w)) return 'cut';
  return w === 'fail' ? 'fail' : 'skip';
}

// One small letter per shape, coloured by its outcome; empty for "lib".
function helloMarksHtml(x) {
  const sh = shapesOf(x);
  if (!sh.length) return '';
  return '<span class="hmarks">' + sh.map(s => {
    const [w, ms, det] = s.of(x);
    const tip = s.name + ': ' + (w || '?') + (ms >= 0 ? ' ' + ms + t('u.ms') : '') + (det ? ' (' + det + ')' : '');
    return '<i class="hm ' + markClass(w) + '" title="' + esc(tip) + '">' + s.m + '</i>';
  }).join('') + '</span>';
}

// "L+C-F+": every shape that ran, + passed, - cut, ? anything else.
function helloToken(x) {
  return shapesOf(x).map(s => {
    const w = s.of(x)[0];
    return s.m + (passes(w) ? '+' : isCut(w) ? '-' : '?');
  }).join('');
}

// The comparison of one address's cells, or null. A cell counts when the
// library's hello passed and a browser hello was cut, or the reverse; a shape
// cut in any such cell is named as cut, the others that passed as passing.
// When that leaves no passing (or no cut) shape, the cells contradict each
// other (a flaky path, not a rule about shapes) and there is no note.
function helloNote(cells) {
  const state = {};
  let split = false;
  for (const x of cells) {
    if (modeOf(x) !== 'all') continue;
    const w = SHAPES.map(s => s.of(x)[0]);
    const lib = passes(w[0]) ? 1 : isCut(w[0]) ? -1 : 0;
    if (!lib || !w.slice(1).some(b => (lib > 0 ? isCut(b) : passes(b)))) continue;
    split = true;
    SHAPES.forEach((s, i) => {
      if (isCut(w[i])) state[s.m] = 'cut';
      else if (passes(w[i]) && state[s.m] !== 'cut') state[s.m] = 'pass';
    });
  }
  const names = k => SHAPES.filter(s => state[s.m] === k).map(s => s.gen).join(t(HT.and));
  if (!split || !names('pass') || !names('cut')) return null;
  let tail;
  if (state.C === 'cut') tail = state.F === 'pass' ? HT.chromeCutFirefoxPasses : HT.chromeCut;
  else if (state.C === 'pass') tail = state.L === 'cut' ? HT.chromePassesLibCut : HT.chromePasses;
  else tail = HT.other;
  return {cls: 'warn', txt: t(HT.note, names('pass'), names('cut'), t(tail))};
}

// Snapshot keys of an entry: the mode and the browser words, when they ran.
function helloKeys(x) {
  const mode = modeOf(x);
  return mode ? {hello: mode, helloChrome: x.helloChrome, helloFirefox: x.helloFirefox} : {};
}

Object.assign(TV, {helloKeys, helloMarksHtml, helloMode, helloNote, helloToken});
})();

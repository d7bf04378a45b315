// Page test harness: the joined page (exactly the text the hosts embed) in
// Debian's chromium, driven by playwright-core, with a fake web view channel.
//
// The fake records every posted command and lets a test deliver UI messages
// as `message` events whose `data` is the already parsed object, as the
// WebView2 host does. With {shim} the fake is replaced by the Linux host's
// channel (shim.js), fed with JSON texts the way that host feeds it.
import { chromium } from 'playwright-core';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const root = path.resolve(here, '../..');

export const PAGE = process.env.TV_PAGE || path.join(root, 'build/linux/web/page.html');
export const ARTIFACTS = process.env.TV_ARTIFACTS || path.join(path.dirname(path.dirname(PAGE)), 'artifacts/page');

export const CHROMIUM_ARGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-background-networking',
  '--disable-component-update', '--no-first-run'];

export async function launch() {
  if (!fs.existsSync(PAGE)) throw new Error('page not built: ' + PAGE + ' (build the target tv_page_html)');
  return chromium.launch({ executablePath: '/usr/bin/chromium', args: CHROMIUM_ARGS, headless: true });
}

// Runs in the page before any of its scripts.
function installFake(opts) {
  if (opts.test) window.__tvTest = {};
  const posted = [];
  window.__posted = posted;
  if (opts.shim) {
    // What the Linux host's native side provides under the shim.
    window.webkit = { messageHandlers: { tarnveil: { postMessage: s => posted.push(s) } } };
    return;
  }
  const target = new EventTarget();
  window.chrome = window.chrome || {};
  window.chrome.webview = {
    postMessage: s => posted.push(s),
    addEventListener: (type, fn) => target.addEventListener(type, fn),
    removeEventListener: (type, fn) => target.removeEventListener(type, fn),
  };
  window.__tvSend = data => target.dispatchEvent(new MessageEvent('message', { data }));
}

export class Tv {
  constructor(page, errors, requests, shim) {
    this.page = page;
    this.errors = errors;
    this.requests = requests;
    this.shim = shim;
  }

  // Commands posted so far; every one must have been a string.
  async posted() {
    const p = await this.page.evaluate(() => window.__posted.slice());
    for (const c of p) assert.equal(typeof c, 'string', 'a posted command is not a string');
    return p;
  }
  async clearPosted() { await this.page.evaluate(() => { window.__posted.length = 0; }); }
  async postedFields() { return (await this.posted()).map(c => c.split('\t')); }
  async lastPosted(name) {
    const all = await this.postedFields();
    const hits = all.filter(f => f[0] === name);
    return hits.length ? hits[hits.length - 1] : null;
  }

  // Delivers UI messages in order.
  async send(...msgs) {
    if (this.shim) {
      await this.page.evaluate(ms => window.__tarnveilDeliver(ms.map(m => JSON.stringify(m))), msgs);
    } else {
      await this.page.evaluate(ms => ms.forEach(m => window.__tvSend(m)), msgs);
    }
  }

  async click(sel) { await this.page.click(sel); }
  async text(sel) { return this.page.textContent(sel); }
  async html(sel) { return this.page.innerHTML(sel); }
  async value(sel) { return this.page.inputValue(sel); }
  async fill(sel, v) { await this.page.fill(sel, v); }
  async toast() { return this.page.textContent('#toast'); }
  async tab(v) { await this.page.click(`.tab[data-v="${v}"]`); }
  async api(fn, arg) { return this.page.evaluate(fn, arg); }
  async barWidth(pfx) {
    return this.page.evaluate(p => document.getElementById(p + 'Bar').firstElementChild.style.width, pfx);
  }

  // Closes the page; fails when the page threw or tried to load anything.
  async close() {
    await this.page.context().close();
    assert.deepEqual(this.errors.map(e => String(e)), [], 'page errors');
    assert.deepEqual(this.requests, [], 'network requests');
  }
}

// Opens the page in a fresh context. opts: test (install the test hook,
// default true), shim (use shim.js), clock (install fake timers at this time),
// motion (keep animations; off by default so that clicks need not wait).
// shim: true for tests/page/shim.js, or the text of another shim script;
// fixedTime: Date always reads this time (timers stay real).
export async function openPage(browser, opts = {}) {
  const o = { test: true, shim: false, ...opts };
  const ctx = await browser.newContext({ viewport: { width: 1240, height: 820 }, reducedMotion: o.motion ? 'no-preference' : 'reduce' });
  const page = await ctx.newPage();
  page.setDefaultTimeout(5000);
  const errors = [], requests = [];
  page.on('pageerror', e => errors.push(e));
  page.on('request', r => { if (!r.url().startsWith('file:')) requests.push(r.url()); });
  // A load the page's policy refused never left the browser.
  page.on('requestfailed', r => {
    const i = requests.indexOf(r.url());
    if (i >= 0 && /^csp$|BLOCKED_BY_CSP/.test((r.failure() || {}).errorText || '')) requests.splice(i, 1);
  });
  if (o.clock) await page.clock.install({ time: o.clock });
  if (o.fixedTime) await page.clock.setFixedTime(o.fixedTime);
  await page.addInitScript(installFake, { test: o.test, shim: o.shim });
  if (o.shim) await page.addInitScript(typeof o.shim === 'string' ? { content: o.shim } : { path: path.join(here, 'shim.js') });
  await page.goto(pathToFileURL(PAGE).href);
  return new Tv(page, errors, requests, o.shim);
}

// A `res` message with the wire fields in protocol order. `v` picks stage
// words that fit the verdict; `over` replaces fields.
export function res(run, idx, host, v = 'pass', over = {}) {
  const m = {
    t: 'res', run, idx, host, sni: host, ip: '10.0.0.' + ((idx % 250) + 1), dns: 'ok', dnsMs: 12, tcp: 'ok',
    tcpMs: 25, tls: 'ok', tlsMs: 60, tlsDetail: '', cert: host, certOk: true, http: 'ok', httpMs: 80,
    httpCode: 200, verdict: v,
  };
  if (v === 'blocked') Object.assign(m, { tcp: 'timeout', tls: 'skip', tlsMs: -1, cert: '', certOk: false, http: 'skip', httpMs: -1, httpCode: 0 });
  if (v === 'dpi') Object.assign(m, { tls: 'reset', tlsDetail: 'closed by peer', cert: '', certOk: false, http: 'skip', httpMs: -1, httpCode: 0 });
  if (v === 'reach') Object.assign(m, { tls: 'alert', tlsDetail: '0x80090326', cert: '', certOk: false, http: 'skip', httpMs: -1, httpCode: 0 });
  if (v === 'partial') Object.assign(m, { http: 'timeout', tlsDetail: 'read timeout', httpMs: -1, httpCode: 0 });
  return Object.assign(m, over);
}

export function net(run, group, name, state, ms, detail = '') {
  return { t: 'net', run, group, name, state, detail, ms };
}

export const done = (run, cancelled = false) => ({ t: 'done', run, cancelled });

// Starts a domain scan of `text` and returns its run id and hosts as posted.
export async function startDomainScan(tv, text) {
  await tv.tab('domains');
  await tv.fill('#domList', text);
  await tv.clearPosted();
  await tv.click('#btnDom');
  const f = await tv.lastPosted('scan');
  assert.ok(f, 'no scan posted');
  return { run: Number(f[1]), jobs: f[6].split('\n').map(l => l.split('|')[0]), fields: f };
}

// Opens a page, runs fn(tv), then closes it with the error checks; on a
// failure inside fn the page is closed without masking that failure.
export async function withTv(browser, opts, fn) {
  const tv = await openPage(browser, opts);
  let ok = false;
  try {
    await fn(tv);
    ok = true;
  } finally {
    if (ok) await tv.close();
    else await tv.page.context().close().catch(() => {});
  }
}

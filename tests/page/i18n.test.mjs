// The page in two languages: the tables agree, every view reads without
// Cyrillic in English, and switching draws the views as a fresh start in
// that language would.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { launch, withTv, res, net, done, startDomainScan } from './harness.mjs';

let browser;
before(async () => { browser = await launch(); });
after(async () => { await browser.close(); });

const opts = { fixedTime: new Date(2025, 0, 31, 9, 42, 5) };
const CYR = /[\u0400-\u04FF]/;

// Every text a user can see or hover: text nodes outside scripts and styles,
// titles, placeholders and labels for assistive tools; the random SNI masked.
const texts = tv => tv.api(() => {
  const out = [];
  const rand = window.__tvTest.api.S.mx.rand;
  const walk = el => {
    if (el.tagName === 'SCRIPT' || el.tagName === 'STYLE' || el.id === 'toast') return;
    for (const a of ['title', 'placeholder', 'aria-label']) if (el.getAttribute(a)) out.push(a + ': ' + el.getAttribute(a));
    for (const n of el.childNodes) {
      if (n.nodeType === 3 && n.nodeValue.trim()) out.push(n.nodeValue);
      else if (n.nodeType === 1) walk(n);
    }
  };
  walk(document.body);
  return out.map(s => (rand ? s.split(rand).join('RAND') : s));
});

// Cyrillic, and keys shown for want of a text (t() gives the key itself).
const cyrillic = async tv => {
  const keys = new Set(Object.keys(await tv.api(() => window.__tvTest.api.TEXTS.ru)));
  return (await texts(tv)).filter(s => CYR.test(s) || keys.has(s.replace(/^(title|placeholder|aria-label): /, '').trim()));
};

// Results of every kind, in every view; Russian only where the native side
// and old snapshots put it (groups, notices, saved status texts).
async function exercise(tv, check) {
  await tv.click('#btnBasics');
  await tv.send(net(1, 'DNS системный', 'example.com', 'ok', 2, '93.184.216.34'),
    net(1, 'DNS по UDP/53', 'Google 8.8.8.8', 'ok', 1, '10.0.0.1 · перехват: whoami 10.9.0.1, по DoT 8.8.4.1'),
    Object.assign(net(1, 'DNS по UDP/53', 'Quad9 9.9.9.9', 'ok', 1, ''), { intercept: 'yes' }),
    net(1, 'TCP:443 по IP', 'Cloudflare 1.1.1.1:443', 'ok', 1), net(1, 'DNS по DoT', 'Quad9 9.9.9.9:853', 'reset', -1, 'closed by peer'),
    net(1, 'DNS по DoH', 'Google', 'ok', 2), { t: 'ipinfo', run: 1, body: 'not json' }, done(1));
  await check('basics');

  const hosts = ['a.ru', 'b.ru', 'c.ru', 'd.ru', 'cl.com', 'h.com', 'w1.com', 'w2.com', 'w3.com', 'x.org'];
  const { run } = await startDomainScan(tv, '# [ru] x\na.ru\nb.ru\nc.ru\nd.ru\n# [cloud]\ncl.com\n# [host]\nh.com\n' +
    '# [world]\nw1.com\nw2.com\nw3.com\n# [odd]\nx.org');
  await check('domains, waiting');
  const fz = { xfer: 'frozen', down: 'frozen', downBytes: 16800, downKbps: -1, downMs: 9, up: 'slow', upBytes: 9000, upKbps: 40, upMs: 5, upAcks: false };
  const all = { hello: 'all', helloChrome: 'reset', helloChromeMs: -1, helloChromeDetail: 'x', helloFirefox: 'ok', helloFirefoxMs: 4, helloFirefoxDetail: '' };
  await tv.send(res(run, 0, 'a.ru', 'pass', Object.assign({ tcpMs: 1 }, fz)),
    res(run, 1, 'b.ru', 'blocked', { dns: 'nx', tcpMs: -1 }), res(run, 2, 'c.ru', 'blocked', { dns: 'nx' }),
    res(run, 3, 'd.ru', 'blocked', { dns: 'nx' }),
    res(run, 4, 'cl.com', 'pass', Object.assign({ tcpMs: 1, tries: 3, passes: 2, xfer: 'slow', down: 'slow', downBytes: 60000, downKbps: 30, up: 'ok', upBytes: 65536, upKbps: 900 }, all)),
    res(run, 5, 'h.com', 'dpi', { tcpMs: 2, certOk: false, cert: 'stub', dnsSpoof: 'yes', dnsGenuine: '10.1.1.1', dnsVia: 'Cloudflare' }),
    res(run, 6, 'w1.com', 'reach', { tcpMs: 1, xfer: 'short', down: 'short', downBytes: 10, up: 'skip' }),
    res(run, 7, 'w2.com', 'partial', { tcpMs: 1, xfer: 'reset', down: 'reset', up: 'timeout' }),
    res(run, 8, 'w3.com', 'dpi', { tcpMs: 1, xfer: 'timeout', down: 'timeout', up: 'timeout' }),
    res(run, 9, 'x.org', 'pass', { tcpMs: 1, xfer: 'ok', down: 'ok', up: 'ok' }), done(run));
  await check('domains');

  await tv.tab('matrix');
  await tv.fill('#mxIps', '1.1.1.1\n2.2.2.2\n3.3.3.3\n4.4.4.4\n5.5.5.5\n6.6.6.6');
  await tv.fill('#mxSnis', '-\n?\na.ru\ngoogle.com');
  await tv.click('#btnMx');
  const mrun = Number((await tv.lastPosted('scan'))[1]);
  const ips = ['1.1.1.1', '2.2.2.2', '3.3.3.3', '4.4.4.4', '5.5.5.5', '6.6.6.6'];
  // Per address: none, random, white, foreign.
  const plan = [['pass', 'dpi', 'pass', 'dpi'], ['blocked', 'blocked', 'blocked', 'blocked'], ['pass', 'pass', 'pass', 'pass'],
    ['dpi', 'pass', 'pass', 'dpi'], ['dpi', 'dpi', 'dpi', 'pass'], ['dpi', 'dpi', 'pass', 'pass']];
  const rand = await tv.api(() => window.__tvTest.api.S.mx.rand);
  const snis = ['', rand, 'a.ru', 'google.com'];
  const cells = [];
  ips.forEach((ip, i) => plan[i].forEach((v, j) => {
    const extra = { sni: snis[j] };
    if (i === 2 && j === 2) Object.assign(extra, fz);
    if (i === 3 && j === 2) Object.assign(extra, { tries: 4, passes: 1 });
    if (i === 5) Object.assign(extra, all);
    cells.push(res(mrun, i * 4 + j, ip, v, extra));
  }));
  await tv.send(...cells, done(mrun));
  await check('matrix');

  const snapA = { v: 1, created: '2025-01-30T08:00:00.000Z', label: 'base', status: { k: 'open', txt: 'ОТКРЫТО · мир 3/3' },
    domains: [{ host: 'a.ru', group: 'ru', verdict: 'pass', ip: '1.2.3.4', xfer: 'ok', down: 'ok', up: 'ok', hello: 'all', helloChrome: 'ok', helloFirefox: 'ok' },
      { host: 'h.com', group: 'host', verdict: 'pass', ip: '1.2.3.5', dnsSpoof: 'no' }],
    matrix: { ips: ['1.1.1.1'], snis: ['-', 'qq.com'], rand: 'qq.com', cells: [{ ip: '1.1.1.1', sni: 'qq.com', verdict: 'pass' }] },
    basics: [{ group: 'DNS по UDP/53', name: 'Google 8.8.8.8', intercept: 'no' }] };
  const snapB = { v: 1, created: '2025-01-31T08:00:00.000Z', label: 'part',
    status: { k: 'wl', txt: 'БЕЛЫЕ СПИСКИ · мир 0/3 · ru 3/3' },
    domains: [{ host: 'a.ru', group: 'ru', verdict: 'dpi', ip: '1.2.3.4', xfer: 'frozen', down: 'frozen', downBytes: 17000, up: 'skip',
      hello: 'all', helloChrome: 'reset', helloFirefox: 'ok', tries: 3, passes: 1 },
    { host: 'h.com', group: 'host', verdict: 'dpi', ip: '1.2.3.5', dnsSpoof: 'yes', dnsGenuine: '9.9.9.1' }],
    matrix: { ips: ['1.1.1.1'], snis: ['zz.net'], rand: 'zz.net', cells: [{ ip: '1.1.1.1', sni: 'zz.net', verdict: 'dpi' }] },
    basics: [{ group: 'DNS по UDP/53', name: 'Google 8.8.8.8', intercept: 'yes' }] };
  const snapC = { v: 1, created: '2025-01-31T09:00:00.000Z', status: { k: 'dead', txt: 'СЕТИ НЕТ или режется всё' } };
  await tv.tab('history');
  await tv.send({ t: 'files', list: [{ name: 'scan_a.json', size: 2048 }, { name: 'scan_b.json', size: 4096 }, { name: 'scan_c.json', size: 10 }] });
  await tv.send({ t: 'file', name: 'scan_a.json', data: JSON.stringify(snapA) }, { t: 'file', name: 'scan_b.json', data: JSON.stringify(snapB) },
    { t: 'file', name: 'scan_c.json', data: JSON.stringify(snapC) });
  await tv.click('.frow:nth-child(1) button[data-act="view"]');
  await tv.send({ t: 'file', name: 'scan_c.json', data: JSON.stringify(Object.assign({ ipinfo: { ip: '5.6.7.8', isp: 'Isp', as: 'AS1' }, domains: snapB.domains }, snapC)) });
  await check('history, one snapshot');
  await tv.click('.frow:nth-child(3) button[data-act="a"]');
  await tv.click('.frow:nth-child(2) button[data-act="b"]');
  await tv.click('#btnCmp');
  await tv.send({ t: 'file', name: 'scan_a.json', data: JSON.stringify(snapA) }, { t: 'file', name: 'scan_b.json', data: JSON.stringify(snapB) });
  await check('history, comparison');
  await tv.tab('help');
  await check('help');
}

test('both tables have the same keys and the same arguments', async () => {
  await withTv(browser, {}, async tv => {
    const { ru, en } = await tv.api(() => window.__tvTest.api.TEXTS);
    assert.deepEqual(Object.keys(en).sort(), Object.keys(ru).sort());
    // Every marked element names a key; markup comes only from the ".h" keys.
    const marks = await tv.api(() => Array.from(document.querySelectorAll('[data-t], [data-th], [data-t-title], [data-t-ph]'))
      .map(e => [e.dataset.t, e.dataset.th, e.dataset.tTitle, e.dataset.tPh]).flat().filter(Boolean));
    assert.deepEqual(marks.filter(k => !(k in ru)), []);
    assert.ok(marks.length > 60);
    const args = s => (s.match(/\{\d+\}/g) || []).sort().join();
    for (const k of Object.keys(ru)) {
      assert.equal(args(en[k]), args(ru[k]), k);
      assert.ok(!CYR.test(en[k]), 'Cyrillic in the English text of ' + k);
    }
  });
});

test('every view in English, started in English by the hello; switching redraws as a fresh start', async () => {
  let fresh;
  await withTv(browser, opts, async tv => {
    await tv.send({ t: 'hello', version: '1.0.0', dir: '/x/scans' });
    await exercise(tv, async () => {});
    fresh = await texts(tv);
  });
  await withTv(browser, opts, async tv => {
    await tv.send({ t: 'hello', version: '1.0.0', dir: '/x/scans', lang: 'en' });
    assert.equal(await tv.text('#pillTxt'), 'Status unknown — run a scan');
    assert.deepEqual(await cyrillic(tv), [], 'at start');
    await exercise(tv, async where => assert.deepEqual(await cyrillic(tv), [], where));
    assert.ok(!CYR.test(await tv.api(() => window.__tvTest.api.buildReport())), 'report');
    const en = await texts(tv);
    assert.deepEqual(await tv.postedFields().then(p => p.filter(f => f[0] === 'lang')), [], 'the hello is not stored back');

    await tv.click('#langRu');
    assert.deepEqual(await texts(tv), fresh);
    assert.equal(await tv.api(() => document.documentElement.lang), 'ru');
    await tv.click('#langEn');
    assert.deepEqual(await texts(tv), en);
    assert.deepEqual((await tv.posted()).filter(c => c.startsWith('lang')), ['lang\tru', 'lang\ten']);

    // Native notices keep their Russian on the wire; the page shows them in English.
    for (const [ru, en] of [['Недопустимое имя файла', 'Invalid file name'], ['Не удалось прочитать файл x.json', 'Could not read the file x.json'],
      ['Сканирование уже идёт', 'A scan is already running'], ['Не удалось скопировать в буфер обмена', 'Could not copy to the clipboard']]) {
      await tv.send({ t: 'msg', text: ru });
      assert.equal(await tv.toast(), en);
    }
    // An unknown word in the hello leaves the language as it is.
    await tv.send({ t: 'hello', version: '1', dir: '', lang: 'de' });
    assert.equal(await tv.api(() => document.documentElement.lang), 'en');
  });
});

test('the default lists follow the language; a list the user changed stays', async () => {
  await withTv(browser, opts, async tv => {
    const lists = () => Promise.all(['#domList', '#mxIps', '#mxSnis'].map(s => tv.value(s)));
    const ru = await lists();
    assert.ok(CYR.test(ru[0]) && CYR.test(ru[1]));
    await tv.send({ t: 'hello', version: '1.0.0', dir: '/x/scans', lang: 'en' });
    const en = await lists();
    en.forEach((v, i) => assert.ok(!CYR.test(v), 'list ' + i + ': ' + v));
    assert.equal(en[0].split('\n').length, ru[0].split('\n').length);
    await tv.tab('domains');
    await tv.fill('#domList', en[0] + '\nexample.org');
    await tv.click('#langRu');
    assert.deepEqual((await lists()).slice(1), ru.slice(1));
    assert.equal(await tv.value('#domList'), en[0] + '\nexample.org');
  });
});

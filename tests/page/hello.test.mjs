// The "Отпечаток" option: the mode on the wire, the L/C/F marks in cells and
// rows, the fingerprint note before an address's other note, and what
// snapshots, the report and the comparison keep of it.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { launch, withTv, res, done, startDomainScan } from './harness.mjs';

let browser;
before(async () => { browser = await launch(); });
after(async () => { await browser.close(); });

// The browser hellos' keys as the native side appends them after `verdict`.
function hello(mode, chrome, firefox) {
  const k = (w, ms, d) => [w, w === 'skip' ? -1 : ms, w === 'ok' ? 'server hello' : w === 'timeout' ? 'no reply' : d];
  const [c, cms, cd] = k(chrome, 4, 'closed by peer'), [f, fms, fd] = k(firefox, 5, 'closed by peer');
  return { hello: mode, helloChrome: c, helloChromeMs: cms, helloChromeDetail: cd, helloFirefox: f, helloFirefoxMs: fms,
    helloFirefoxDetail: fd };
}

async function startMx(tv, mode) {
  await tv.tab('matrix');
  await tv.fill('#mxIps', '1.1.1.1\n77.88.55.242');
  await tv.fill('#mxSnis', 'vk.com\ngoogle.com');
  await tv.page.selectOption('#mxHello', mode);
  await tv.clearPosted();
  await tv.click('#btnMx');
  return (await tv.lastPosted('scan'));
}

const marks = (tv, sel) => tv.api(s => Array.from(document.querySelectorAll(s + ' .hm'))
  .map(m => m.className + ' ' + m.textContent + ' ' + m.title), sel);

test('the option goes out as scan field 8; the default is the library', async () => {
  await withTv(browser, {}, async tv => {
    assert.deepEqual(await tv.api(() => Array.from(document.querySelectorAll('#mxHello option'))
      .map(o => o.value + ':' + o.textContent + (o.selected ? '*' : ''))),
    ['lib:библиотека*', 'chrome:Chrome', 'firefox:Firefox', 'all:сравнить']);
    const dom = await startDomainScan(tv, 'a.ru');
    assert.deepEqual(dom.fields.slice(7), ['1', 'lib', '1', '1']);
    await tv.send(done(dom.run));
    await tv.page.selectOption('#domHello', 'chrome');
    assert.deepEqual((await startDomainScan(tv, 'a.ru')).fields.slice(7, 9), ['1', 'chrome']);
    await tv.send(done(2));
    assert.deepEqual((await startMx(tv, 'all')).slice(7), ['1', 'all']);
  });
});

test('cells and rows: three marks in "all", one in a browser mode, none for the library', async () => {
  await withTv(browser, {}, async tv => {
    const run = Number((await startMx(tv, 'all'))[1]);
    await tv.send(res(run, 1, '1.1.1.1', 'pass', Object.assign({ sni: 'google.com', tlsMs: 30 }, hello('all', 'timeout', 'ok'))));
    assert.deepEqual(await marks(tv, '#mc_0_1'), ['hm ok L библиотека: ok 30мс', 'hm cut C Chrome: timeout 4мс (no reply)',
      'hm ok F Firefox: ok 5мс (server hello)']);
    assert.equal(await tv.text('#mc_0_1 .cell'), 'OK 30LCF');
    await tv.send(res(run, 2, '77.88.55.242', 'pass', { sni: 'vk.com' }));
    assert.deepEqual(await marks(tv, '#mc_1_0'), [], 'a result without the keys has no marks');

    await tv.send(done(run));
    await tv.tab('domains');
    await tv.page.selectOption('#domHello', 'firefox');
    const dom = await startDomainScan(tv, 'a.ru');
    await tv.send(res(dom.run, 0, 'a.ru', 'reach', Object.assign({ tls: 'alert', tlsDetail: 'alert 40 (handshake_failure)' },
      hello('firefox', 'skip', 'alert'))));
    assert.deepEqual(await marks(tv, '#dr0'), ['hm alert F Firefox: alert 5мс (closed by peer)']);
  });
});

test('the fingerprint note stands before the address note; none where all shapes agree', async () => {
  await withTv(browser, {}, async tv => {
    const run = Number((await startMx(tv, 'all'))[1]);
    // vk.com is white: an SNI-filter reading for 1.1.1.1 by the library, Chrome cut on both names.
    await tv.send(
      res(run, 0, '1.1.1.1', 'pass', Object.assign({ sni: 'vk.com' }, hello('all', 'timeout', 'ok'))),
      res(run, 1, '1.1.1.1', 'dpi', Object.assign({ sni: 'google.com' }, hello('all', 'timeout', 'reset'))),
      res(run, 2, '77.88.55.242', 'pass', Object.assign({ sni: 'vk.com' }, hello('all', 'ok', 'ok'))),
      res(run, 3, '77.88.55.242', 'pass', Object.assign({ sni: 'google.com' }, hello('all', 'ok', 'alert'))),
      done(run));
    const notes = await tv.api(() => Array.from(document.querySelectorAll('#mxNotes .note')).map(n => n.className + ': ' + n.textContent));
    assert.deepEqual(notes, [
      'note warn: 1.1.1.1 — Фильтр по отпечатку TLS: пропускает ClientHello библиотеки и Firefox, режет Chrome. ' +
        'Туннель, который прикидывается Chrome (uTLS, Reality), сюда не пройдёт: поставь в клиенте отпечаток Firefox.',
      'note good: 1.1.1.1 — Фильтр по SNI: белые имена проходят (1/1), чужие режутся. Хороший знак: сервер где угодно + ' +
        'маскировка под белый SNI (Reality) может сработать.',
      'note good: 77.88.55.242 — Пускает и белые, и чужие SNI (1/1 белых, 1/1 чужих). SNI не фильтруется — IP белый или ' +
        'фильтр сейчас снят.']);

    // The snapshot keeps the mode and the browser words; the report and the comparison read them.
    const s = await tv.api(() => window.__tvTest.api.makeSnapshot(''));
    assert.deepEqual(Object.keys(s.matrix.cells[0]), ['ip', 'sni', 'verdict', 'tcp', 'tls', 'tlsMs', 'hello', 'helloChrome',
      'helloFirefox']);
    assert.deepEqual(s.matrix.cells.map(c => c.helloChrome + '/' + c.helloFirefox), ['timeout/ok', 'timeout/reset', 'ok/ok',
      'ok/alert']);
    const report = (await tv.api(() => window.__tvTest.api.buildReport())).split('\n');
    const at = report.indexOf('== IP x SNI ==');
    assert.deepEqual(report.slice(at + 1), ['1.1.1.1: vk.com=OK[L+C-F+] google.com=DPI[L-C-F-]',
      '77.88.55.242: vk.com=OK[L+C+F+] google.com=OK[L+C+F+]',
      'Отпечаток: L — библиотека, C — Chrome, F — Firefox; + прошёл, - срезан, ? неясно',
      '1.1.1.1 — Фильтр по отпечатку TLS: пропускает ClientHello библиотеки и Firefox, режет Chrome. Туннель, который ' +
        'прикидывается Chrome (uTLS, Reality), сюда не пройдёт: поставь в клиенте отпечаток Firefox.']);

    const B = JSON.parse(JSON.stringify(s));
    B.matrix.cells[0].helloChrome = 'ok';
    Object.assign(B.matrix.cells[2], { verdict: 'dpi', tls: 'reset' });
    await tv.tab('history');
    await tv.send({ t: 'files', list: [{ name: 'a.json', size: 1 }, { name: 'b.json', size: 1 }] });
    await tv.click('.frow:nth-child(2) button[data-act="a"]');
    await tv.click('.frow:nth-child(1) button[data-act="b"]');
    await tv.click('#btnCmp');
    await tv.send({ t: 'file', name: 'a.json', data: JSON.stringify(s) }, { t: 'file', name: 'b.json', data: JSON.stringify(B) });
    const cmp = await tv.api(() => ({
      heads: Array.from(document.querySelectorAll('#cmpOut .cmpH')).map(h => h.textContent),
      last: Array.from(Array.from(document.querySelectorAll('#cmpOut table')).pop().tBodies[0].rows)
        .map(tr => Array.from(tr.cells).map(c => c.textContent).join(' ')),
    }));
    // The third cell's library handshake changed too, so its token does.
    assert.deepEqual(cmp.heads, ['Домены: изменилось 0 из 0', 'IP × SNI: изменилось 1 из 4', 'Отпечаток TLS: изменилось 2 из 4']);
    assert.deepEqual(cmp.last.slice(-2), ['1.1.1.1 × vk.com L+C-F+ → L+C+F+', '77.88.55.242 × vk.com L+C+F+ → L-C+F+']);
  });
});

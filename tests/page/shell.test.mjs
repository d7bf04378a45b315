// Frame, bridge client, run bookkeeping and the basic test view.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { launch, withTv, res, net, done, startDomainScan } from './harness.mjs';

let browser;
before(async () => { browser = await launch(); });
after(async () => { await browser.close(); });

const busyState = tv => tv.api(() => ({
  starts: ['btnBasics', 'btnDom', 'btnMx'].map(id => document.getElementById(id).disabled),
  stops: Array.from(document.querySelectorAll('.stopBtn')).map(b => b.disabled),
}));

test('start-up: one ready, defaults before hello, hello fills version and folder, tabs', async () => {
  await withTv(browser, {}, async tv => {
    assert.deepEqual(await tv.posted(), ['ready']);
    assert.equal(await tv.page.title(), 'Tarnveil');
    assert.equal(await tv.text('#ver'), '1.0.0');
    assert.equal(await tv.text('#dirTxt'), 'scans');
    assert.equal(await tv.text('#pillTxt'), 'Статус неизвестен — запусти скан');
    assert.equal(await tv.text('#fileList'), 'Снимков пока нет. Нажми «Сохранить снимок» вверху.');
    assert.deepEqual(await busyState(tv), { starts: [false, false, false], stops: [true, true, true] });
    // The policy forbids every load (tried against loopback only).
    const blocked = await tv.api(() => new Promise(resolve => {
      document.addEventListener('securitypolicyviolation', e => resolve(e.violatedDirective), { once: true });
      new Image().src = 'http://127.0.0.1:9/x.png';
      setTimeout(() => resolve('loaded'), 2000);
    }));
    assert.equal(blocked, 'img-src');
    // Nothing the page defines leaks into the global scope.
    assert.deepEqual(await tv.api(() => ['S', 'onMsg', 'post', 'esc', 'calcStatus', 'VL'].filter(n => n in window)), []);

    await tv.send({ t: 'hello', project: 'Tarnveil', author: 'Brannick & Quillmoor', version: '9.8.7', dir: 'C:\\T\\scans' });
    assert.equal(await tv.text('#ver'), '9.8.7');
    assert.equal(await tv.text('#dirTxt'), 'C:\\T\\scans');

    const visible = () => tv.api(() => Array.from(document.querySelectorAll('.view'))
      .filter(v => getComputedStyle(v).display !== 'none').map(v => v.id));
    assert.deepEqual(await visible(), ['v-basics']);
    await tv.clearPosted();
    for (const v of ['domains', 'matrix', 'help', 'basics']) {
      await tv.tab(v);
      assert.deepEqual(await visible(), ['v-' + v]);
    }
    assert.deepEqual(await tv.posted(), [], 'only the History tab posts');
    await tv.tab('history');
    assert.deepEqual(await visible(), ['v-history']);
    assert.deepEqual(await tv.posted(), ['list']);
    assert.equal(await tv.api(() => document.querySelector('.tab.active').dataset.v), 'history');

    // Unknown kinds and shapeless messages are ignored.
    await tv.send({ t: 'nope', run: 0 }, { run: 1 }, 'text', null, 42);
  });
});

test('run ids: only the current run is accepted; stop only posts cancel', async () => {
  await withTv(browser, {}, async tv => {
    await tv.send(net(1, 'DNS', 'idle', 'ok', 3));
    assert.equal(await tv.html('#bsBody'), '');

    await tv.clearPosted();
    await tv.click('#btnBasics');
    assert.deepEqual(await tv.postedFields(), [['basics', '1', '3500']]);
    assert.deepEqual(await busyState(tv), { starts: [true, true, true], stops: [false, false, false] });

    await tv.send(net(2, 'DNS', 'other run', 'ok', 3), net('1', 'DNS', 'string id', 'ok', 3),
      { t: 'ipinfo', run: 0, body: '{"status":"success","query":"1.2.3.4"}' }, done(2));
    assert.equal(await tv.html('#bsBody'), '');
    assert.equal(await tv.api(() => document.getElementById('bsInfo').classList.contains('hidden')), true);
    assert.deepEqual((await busyState(tv)).starts, [true, true, true], 'a done of another run ends nothing');

    await tv.send(net(1, 'DNS', 'mine', 'ok', 3));
    assert.equal(await tv.api(() => document.querySelectorAll('#bsBody tr').length), 1);

    await tv.clearPosted();
    await tv.page.click('#v-basics .stopBtn');
    assert.deepEqual(await tv.posted(), ['cancel']);
    assert.deepEqual((await busyState(tv)).starts, [true, true, true], 'stop waits for done');

    await tv.send(done(1, true));
    assert.deepEqual(await busyState(tv), { starts: [false, false, false], stops: [true, true, true] });
    await tv.send(net(1, 'DNS', 'late', 'ok', 3), done(1));
    assert.equal(await tv.api(() => document.querySelectorAll('#bsBody tr').length), 1, 'late results are dropped');

    await tv.clearPosted();
    await tv.click('#btnBasics');
    assert.equal((await tv.lastPosted('basics'))[1], '2');
  });
});

test('progress: finished jumps to 100 %, cancelled keeps its width; a refused run ends as stopped', async () => {
  await withTv(browser, {}, async tv => {
    let { run } = await startDomainScan(tv, 'a.ru\nb.ru\nc.ru');
    assert.equal(await tv.text('#domProg'), '0 / 3 (0%)');
    assert.equal(await tv.api(() => document.getElementById('domBar').classList.contains('run')), true);
    await tv.send(res(run, 0, 'a.ru'));
    assert.equal(await tv.text('#domProg'), '1 / 3 (33%)');
    assert.equal(await tv.barWidth('dom'), '33%');
    await tv.send(done(run, true));
    assert.equal(await tv.text('#domProg'), 'Остановлено: 1 / 3');
    assert.equal(await tv.barWidth('dom'), '33%');
    assert.equal(await tv.api(() => document.getElementById('domBar').classList.contains('run')), false);

    ({ run } = await startDomainScan(tv, 'a.ru\nb.ru\nc.ru'));
    assert.equal(await tv.barWidth('dom'), '0%');
    await tv.send(res(run, 2, 'c.ru'), { t: 'done', run });
    assert.equal(await tv.text('#domProg'), 'Готово: 1 / 3');
    assert.equal(await tv.barWidth('dom'), '100%');

    ({ run } = await startDomainScan(tv, 'a.ru\nb.ru\nc.ru'));
    await tv.send({ t: 'msg', text: 'Сканирование уже идёт' }, done(run, true));
    assert.equal(await tv.toast(), 'Сканирование уже идёт');
    assert.equal(await tv.text('#domProg'), 'Остановлено: 0 / 3');
  });
});

test('a TAB typed into a field reaches the native side as a blank', async () => {
  await withTv(browser, {}, async tv => {
    const { fields } = await startDomainScan(tv, 'a\tb.ru');
    assert.equal(fields.length, 11); // the job list, then the options after it
    assert.equal(fields[6], 'a b.ru|a b.ru');
    assert.deepEqual(fields.slice(7), ['1', 'lib', '1', '1']);
  });
});

test('basic test: rows, chips, the lookup card, and a restart clears them', async () => {
  await withTv(browser, {}, async tv => {
    await tv.fill('#bsTimeout', '900');
    await tv.clearPosted();
    await tv.click('#btnBasics');
    assert.deepEqual(await tv.lastPosted('basics'), ['basics', '1', '900']);
    await tv.send(net(1, 'DNS system', 'ya.ru', 'skip', -1), net(1, 'TCP:443', '1.1.1.1', 'ok', 14),
      net(1, 'UDP/53', '8.8.8.8', 'timeout', 3000, 'no reply'));
    const rows = await tv.api(() => Array.from(document.querySelectorAll('#bsBody tr'))
      .map(tr => Array.from(tr.cells).map(td => td.textContent)));
    assert.deepEqual(rows, [
      ['DNS system', 'ya.ru', '—', '—', ''],
      ['TCP:443', '1.1.1.1', 'ok', '14', ''],
      ['UDP/53', '8.8.8.8', 'timeout', '3000', 'no reply'],
    ]);
    assert.equal(await tv.api(() => document.querySelector('#bsBody tr:nth-child(3) .chip').title), 'no reply');
    assert.equal(await tv.barWidth('bs'), '14%'); // 3 of 21 steps

    await tv.send({ t: 'ipinfo', run: 1, body: JSON.stringify({ status: 'success', query: '198.51.100.7', isp: 'Rostelecom', org: 'RT', as: 'AS12389 PJSC', country: 'Russia' }) });
    assert.equal(await tv.text('#bsInfo'), 'Твой выход в интернет: 198.51.100.7 · Rostelecom · AS12389 PJSC · , Russia');
    // A field the service left out stays absent (it is dropped from snapshots).
    assert.equal(await tv.api(() => JSON.stringify(window.__tvTest.api.S.ipinfo)),
      '{"ip":"198.51.100.7","isp":"Rostelecom","org":"RT","as":"AS12389 PJSC","country":"Russia"}');
    await tv.send(done(1));
    assert.equal(await tv.barWidth('bs'), '100%');

    await tv.click('#btnBasics');
    assert.equal(await tv.html('#bsBody'), '');
    assert.equal(await tv.api(() => document.getElementById('bsInfo').classList.contains('hidden')), true);
    assert.equal(await tv.api(() => window.__tvTest.api.S.ipinfo), null);

    const fail = 'Данные о выходе в интернет получить не удалось. ip-api.com недоступен — при белых списках это нормально.';
    for (const body of ['{"status":"fail","message":"private range"}', 'not json', '', undefined]) {
      await tv.send({ t: 'ipinfo', run: 2, body });
      assert.equal(await tv.text('#bsInfo'), fail, 'body ' + body);
      assert.deepEqual(await tv.api(() => window.__tvTest.api.S.ipinfo), { error: true });
    }
  });
});

test('hostile texts from messages, files and inputs never become markup', async () => {
  const evil = '<img src=x onerror="window.__pwned=1">';
  await withTv(browser, {}, async tv => {
    await tv.click('#btnBasics');
    await tv.send(net(1, evil, evil, '"><b>x</b>', 5, evil),
      { t: 'ipinfo', run: 1, body: JSON.stringify({ status: 'success', query: evil, isp: evil, as: '<svg onload=1>', city: '"', country: '&amp;' }) },
      done(1), { t: 'msg', text: evil }, { t: 'hello', version: evil, dir: evil });

    const { run } = await startDomainScan(tv, '<svg/onload=window.__pwned=2>\nb.ru');
    await tv.send(res(run, 0, 'x', 'pass', { cert: evil, ip: evil, tlsDetail: evil, certOk: false }),
      res(run, 1, 'b.ru', evil, { dns: evil, httpCode: evil, http: 'ok' }), done(run));

    await tv.tab('matrix');
    await tv.fill('#mxIps', '<i>1.1.1.1</i>');
    await tv.fill('#mxSnis', '-\n<b>vk.com</b>');
    await tv.click('#btnMx');
    await tv.send(res(run + 1, 1, '<i>1.1.1.1</i>', 'pass', { sni: '<b>vk.com</b>', cert: evil, tlsDetail: evil }), done(run + 1));

    await tv.send({ t: 'files', list: [{ name: evil, size: 10 }] });
    await tv.tab('history');
    await tv.click('#fileList button[data-act="view"]');
    await tv.send({ t: 'file', name: evil, data: JSON.stringify({ v: 1, created: evil, label: evil, status: { k: 'x', txt: evil }, domains: [{ host: evil, group: evil, verdict: evil, ip: evil }], ipinfo: { ip: evil, isp: evil, as: evil } }) });

    const found = await tv.api(() => ({
      markup: ['#bsBody', '#bsInfo', '#domBody', '#domStats', '#mxTable', '#mxNotes', '#fileList', '#cmpOut']
        .map(z => document.querySelectorAll(z + ' img, ' + z + ' svg, ' + z + ' script, ' + z + ' i').length)
        .reduce((a, b) => a + b, 0) + document.querySelectorAll('#mxTable b, #bsBody b, #toast *, #ver *, #dirTxt *').length,
      pwned: window.__pwned,
      cells: document.querySelector('#mc_0_1 .cell').title,
    }));
    assert.deepEqual(found, { markup: 0, pwned: undefined, cells: 'tcp:ok tls:ok (' + evil + ') cert:' + evil });
    assert.ok((await tv.text('#bsBody')).includes(evil));
    assert.ok((await tv.text('#domBody')).includes('<svg/onload=window.__pwned=2>'));
    assert.ok((await tv.text('#cmpOut')).includes(evil));
    assert.equal(await tv.text('#ver'), evil);
  });
});

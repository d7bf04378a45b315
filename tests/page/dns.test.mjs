// DNS findings: the scan option, the encrypted-DNS rows of the basic test,
// the interception and swapped-answer marks, their notes, and what snapshots,
// the report and the comparison carry of them.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { launch, withTv, res, net, done, startDomainScan } from './harness.mjs';

let browser;
before(async () => { browser = await launch(); });
after(async () => { await browser.close(); });

const SPOOF = { ip: '198.18.0.80', cert: 'stub.lab.test', certOk: false, dnsSpoof: 'yes', dnsGenuine: '198.19.1.1', dnsVia: 'dot 77.88.8.8' };
const notes = (tv, sel) => tv.api(s => Array.from(document.querySelectorAll(s + ' .note')).map(n => n.textContent), sel);

// The twelve rows, the eight encrypted ones; the UDP rows' interception words given.
function basicsRows(intercept) {
  const udp = ['Yandex DNS 77.88.8.8', 'Cloudflare 1.1.1.1', 'Google 8.8.8.8', 'Quad9 9.9.9.9'];
  const rows = [];
  for (let i = 0; i < 4; i++) rows.push(net(0, 'DNS системный', 'n' + i, 'ok', 1, '198.19.1.' + i));
  udp.forEach((n, i) => rows.push({ ...net(0, 'DNS по UDP/53', n, 'ok', 1, 'A 198.19.1.9'), intercept: intercept[i] }));
  for (let i = 0; i < 4; i++) rows.push(net(0, 'TCP:443 по IP', 't' + i, 'ok', 20));
  for (let i = 0; i < 8; i++) rows.push(net(0, i < 4 ? 'DNS по DoT' : 'DNS по DoH', 'e' + i, i % 4 ? 'timeout' : 'ok', 30));
  return rows;
}

async function basicTest(tv, rows) {
  await tv.tab('basics');
  await tv.click('#btnBasics');
  const run = Number((await tv.lastPosted('basics'))[1]);
  await tv.send(...rows.map(m => ({ ...m, run })), { t: 'ipinfo', run, body: '' });
  return run;
}

test('scan options: the DNS check goes at its position after the defaults; matrix scans send no DNS check', async () => {
  await withTv(browser, {}, async tv => {
    let { fields } = await startDomainScan(tv, 'a.ru');
    assert.deepEqual(fields.slice(6), ['a.ru|a.ru', '1', 'lib', '1', '1']); // the transfer test is on
    await tv.send(done(Number(fields[1])));
    await tv.click('#domDnsCheck');
    ({ fields } = await startDomainScan(tv, 'a.ru'));
    assert.equal(fields[10], '0');
    await tv.send(done(Number(fields[1])));
    await tv.tab('matrix');
    await tv.click('#btnMx');
    assert.equal((await tv.lastPosted('scan')).length, 9); // up to the ClientHello choice
  });
});

test('basic test: 21 steps; intercepted UDP rows marked beside their state and named in a warning', async () => {
  await withTv(browser, {}, async tv => {
    const run = await basicTest(tv, basicsRows(['no', 'yes', 'yes', 'skip']));
    assert.equal(await tv.barWidth('bs'), '100%', 'twelve checks, eight encrypted, the lookup');
    const udp = await tv.api(() => Array.from(document.querySelectorAll('#bsBody tr')).slice(4, 8)
      .map(tr => [tr.cells[2].querySelector('.chip').textContent, tr.cells[2].textContent]));
    assert.deepEqual(udp, [['ok', 'ok'], ['ok', 'ok перехват'], ['ok', 'ok перехват'], ['ok', 'ok']]);
    assert.deepEqual(await notes(tv, '#bsWarn'), [], 'the warning waits for the end of the run');
    await tv.send(done(run));
    const [w] = await notes(tv, '#bsWarn');
    assert.ok(w.startsWith('DNS-запросы на UDP/53 перехватывают.'), w);
    assert.ok(w.endsWith('Перехват: Cloudflare 1.1.1.1, Google 8.8.8.8.'), w);
    assert.deepEqual(await notes(tv, '#domWarn'), [], 'the domain view has no such warning');
    const report = await tv.api(() => window.__tvTest.api.buildReport());
    assert.ok(report.endsWith('\nПерехват UDP/53: Cloudflare 1.1.1.1, Google 8.8.8.8'), report);

    const again = await basicTest(tv, basicsRows(['no', 'no', 'skip', 'skip']));
    await tv.send(done(again));
    assert.deepEqual(await notes(tv, '#bsWarn'), []);
  });
});

test('domain rows: the swapped-answer mark names the genuine address; the verdict and other rows stay', async () => {
  await withTv(browser, {}, async tv => {
    const { run, jobs } = await startDomainScan(tv, '# [world]\ng.com\nself.ru\nf.ru\nold.ru');
    await tv.send(res(run, 0, jobs[0], 'pass', SPOOF),
      res(run, 1, jobs[1], 'pass', { certOk: false, dnsSpoof: 'no', dnsGenuine: '', dnsVia: 'dot 77.88.8.8' }),
      res(run, 2, jobs[2], 'pass', { certOk: false, dnsSpoof: 'fail', dnsGenuine: '', dnsVia: '' }),
      res(run, 3, jobs[3], 'pass'));
    const cells = await tv.api(() => Array.from(document.querySelectorAll('#domBody tr'))
      .map(tr => [tr.cells[2].textContent, tr.cells[8].textContent]));
    assert.deepEqual(cells, [['198.18.0.80подмена DNS→ 198.19.1.1', 'ПРОХОДИТ'], ['10.0.0.2', 'ПРОХОДИТ'],
      ['10.0.0.3', 'ПРОХОДИТ'], ['10.0.0.4', 'ПРОХОДИТ']]);
    await tv.send(done(run));
    const w = await notes(tv, '#domWarn');
    assert.equal(w.length, 1);
    assert.ok(w[0].startsWith('Подмена DNS. ') && w[0].endsWith(' g.com → 198.19.1.1'), w[0]);
  });
});

test('snapshots, report and comparison carry the findings', async () => {
  await withTv(browser, {}, async tv => {
    const { run, jobs } = await startDomainScan(tv, '# [world]\ng.com\nok.ru');
    await tv.send(res(run, 0, jobs[0], 'pass', SPOOF), res(run, 1, jobs[1], 'pass'), done(run));
    const b = await basicTest(tv, basicsRows(['yes', 'no', 'no', 'no']));
    await tv.send(done(b));
    const snap = await tv.api(() => JSON.parse(JSON.stringify(window.__tvTest.api.makeSnapshot('x'))));
    assert.deepEqual(Object.keys(snap.domains[0]).slice(11), ['certOk', 'dnsSpoof', 'dnsGenuine', 'dnsVia']);
    assert.equal('dnsSpoof' in snap.domains[1], false, 'no keys when none came');
    assert.deepEqual(snap.basics.slice(4, 6).map(n => Object.keys(n).slice(-2)), [['ms', 'intercept'], ['ms', 'intercept']]);
    const report = (await tv.api(() => window.__tvTest.api.buildReport())).split('\n');
    assert.ok(report.includes('[world] g.com -> ПРОХОДИТ (ip 198.18.0.80, dns ok, tcp ok, tls ok 60ms, http 200)' +
      ' [подмена DNS, настоящий адрес 198.19.1.1, dot 77.88.8.8]'), report.join('\n'));

    // B: the same hosts a day later, nothing swapped, nothing intercepted.
    const B = JSON.parse(JSON.stringify(snap));
    B.domains[0] = { ...B.domains[0], dnsSpoof: 'no', dnsGenuine: '' };
    B.basics = B.basics.map(n => (n.intercept ? { ...n, intercept: 'no' } : n));
    await tv.tab('history');
    await tv.send({ t: 'files', list: [{ name: 'a.json', size: 1 }, { name: 'b.json', size: 1 }] });
    await tv.click('.frow:nth-child(2) button[data-act="a"]');
    await tv.click('.frow:nth-child(1) button[data-act="b"]');
    await tv.click('#btnCmp');
    await tv.send({ t: 'file', name: 'a.json', data: JSON.stringify(snap) }, { t: 'file', name: 'b.json', data: JSON.stringify(B) });
    const cmp = await tv.api(() => ({
      heads: Array.from(document.querySelectorAll('#cmpOut .cmpH')).map(h => h.textContent),
      rows: Array.from(document.querySelectorAll('#cmpOut tbody tr')).map(tr => [0, 1, 3].map(i => tr.cells[i].textContent)),
    }));
    assert.deepEqual(cmp.heads, ['Домены: изменилось 0 из 2', 'IP × SNI: изменилось 0 из 0', 'Подмена DNS: изменилось 1 из 1',
      'Перехват UDP/53: изменилось 1 из 4']);
    assert.deepEqual(cmp.rows, [['g.com', 'подмена DNS → 198.19.1.1', 'нет'], ['Yandex DNS 77.88.8.8', 'перехват', 'нет']]);

    // Without findings on either side the DNS tables are left out.
    await tv.click('.frow:nth-child(1) button[data-act="a"]');
    await tv.click('#btnCmp');
    await tv.send({ t: 'file', name: 'b.json', data: JSON.stringify(B) });
    assert.equal(await tv.api(() => document.querySelectorAll('#cmpOut .cmpH').length), 2);
  });
});

// VPN and DNS warnings, and the help view's fixed text.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { launch, withTv, res, net, done, startDomainScan } from './harness.mjs';

let browser;
before(async () => { browser = await launch(); });
after(async () => { await browser.close(); });

const VPN = 'Похоже, активен VPN / прокси / TUN. TCP-соединения с внешними адресами устанавливаются за 0–3 мс — так не бывает ' +
  'без локального перехвата трафика. Скан сейчас проверяет твой VPN, а не оператора. Отключи VPN (v2rayN, Hiddify, sing-box и т.п.) ' +
  'и повтори, иначе эталон получится ложным.';
const DNS = 'Системный DNS отдаёт «домен не найден» для известных сайтов, а другие домены в это же время резолвятся. Это сбой или ' +
  'фильтрация DNS у оператора, а не блок по IP. Строки с nx не говорят, режется ли сам адрес.';

const areas = tv => tv.api(() => ({
  dom: Array.from(document.querySelectorAll('#domWarn .note.warn')).map(n => n.textContent),
  bs: Array.from(document.querySelectorAll('#bsWarn .note.warn')).map(n => n.textContent),
}));

// One domain scan whose rows are given as [group, overrides of the result].
async function domainScan(tv, rows) {
  const list = rows.map(([g], i) => '# [' + g + ']\nh' + i + '.example').join('\n');
  const { run, jobs } = await startDomainScan(tv, list);
  await tv.send(...rows.map(([, over], i) => res(run, i, jobs[i], 'pass', over)), done(run));
}

async function basicTest(tv, msgs) {
  await tv.tab('basics');
  await tv.click('#btnBasics');
  const run = Number((await tv.lastPosted('basics'))[1]);
  await tv.send(...msgs.map(m => ({ ...m, run })), done(run));
}

test('VPN warning: near-instant connections, at least 3 times and 90 %', async () => {
  await withTv(browser, {}, async tv => {
    await domainScan(tv, [['custom', { tcpMs: 1 }], ['custom', { tcpMs: 2 }]]);
    assert.deepEqual(await areas(tv), { dom: [], bs: [] }, 'two times never warn');
    await domainScan(tv, [['custom', { tcpMs: 1 }], ['custom', { tcpMs: 2 }], ['world', { tcpMs: 3 }]]);
    assert.deepEqual(await areas(tv), { dom: [VPN], bs: [VPN] });
    await domainScan(tv, [['custom', { tcpMs: 1, dns: 'skip' }], ['custom', { tcpMs: 2, dns: 'skip' }], ['custom', { tcpMs: 0, dns: 'skip' }],
      ['custom', { tcpMs: 1, tcp: 'refused' }], ['custom', { tcpMs: -1 }]]);
    assert.deepEqual(await areas(tv), { dom: [], bs: [] }, 'address targets, failed connects and unmeasured times do not count');

    // Basic test times (group TCP:443..., state ok) and domain times count together.
    const tcp = (ms, state = 'ok', group = 'TCP:443 (IP)') => net(0, group, 'x', state, ms);
    await basicTest(tv, [tcp(1), tcp(2), tcp(3), tcp(40), tcp(1, 'timeout'), tcp(1, 'ok', 'UDP/53')]);
    assert.deepEqual(await areas(tv), { dom: [], bs: [] }, '3 of 4');
    await domainScan(tv, Array.from({ length: 6 }, () => ['custom', { tcpMs: 2 }]));
    assert.deepEqual(await areas(tv), { dom: [VPN], bs: [VPN] }, '9 of 10');
    await domainScan(tv, [...Array.from({ length: 5 }, () => ['custom', { tcpMs: 3 }]), ['custom', { tcpMs: 4 }]]);
    assert.deepEqual(await areas(tv), { dom: [], bs: [] }, '8 of 10');
  });
});

test('DNS warning: ru, cloud and host rows only, shown in the domain view only', async () => {
  await withTv(browser, {}, async tv => {
    const nx = { dns: 'nx', ip: '', tcp: 'skip', tcpMs: -1, verdict: 'blocked' };
    await domainScan(tv, [['ru', nx], ['ru', nx], ['ru', nx], ['cloud', { tcpMs: 30 }]]);
    assert.deepEqual(await areas(tv), { dom: [DNS], bs: [] });
    await domainScan(tv, [['world', nx], ['world', nx], ['world', nx], ['ru', { tcpMs: 30 }]]);
    assert.deepEqual(await areas(tv), { dom: [], bs: [] });
    await domainScan(tv, [['host', nx], ['cloud', nx], ['custom', nx], ['ru', nx], ['custom', { tcpMs: 30 }]]);
    assert.deepEqual(await areas(tv), { dom: [], bs: [] }, 'a resolving custom row does not count');
    await domainScan(tv, [['host', nx], ['cloud', nx], ['ru', nx], ['host', { tcpMs: 30 }]]);
    assert.deepEqual(await areas(tv), { dom: [DNS], bs: [] });
  });
});

test('the areas keep their content during runs and after a matrix run; a stopped scan refreshes them', async () => {
  await withTv(browser, {}, async tv => {
    await domainScan(tv, [['custom', { tcpMs: 1 }], ['custom', { tcpMs: 1 }], ['custom', { tcpMs: 1 }]]);
    const warned = { dom: [VPN], bs: [VPN] };
    const { run } = await startDomainScan(tv, 'other.example');
    assert.deepEqual(await areas(tv), warned, 'kept while the next scan runs');
    await tv.send(done(run, true));
    assert.deepEqual(await areas(tv), { dom: [], bs: [] }, 'a stopped scan refreshes too');

    await domainScan(tv, [['custom', { tcpMs: 1 }], ['custom', { tcpMs: 1 }], ['custom', { tcpMs: 1 }]]);
    await tv.tab('matrix');
    await tv.fill('#mxIps', '1.1.1.1');
    await tv.fill('#mxSnis', '-');
    await tv.click('#btnMx');
    const mrun = Number((await tv.lastPosted('scan'))[1]);
    await tv.api(() => { window.__tvTest.api.S.domRows = []; });
    await tv.send(res(mrun, 0, '1.1.1.1', 'pass', { sni: '' }), done(mrun));
    assert.deepEqual(await areas(tv), warned, 'a matrix run never refreshes the warnings');
  });
});

test('help view: verdict labels in their colours, in order', async () => {
  await withTv(browser, {}, async tv => {
    await tv.tab('help');
    const help = await tv.api(() => ({
      verdicts: Array.from(document.querySelectorAll('#helpBody .v')).map(v => v.className + ' ' + v.textContent),
      colours: Array.from(document.querySelectorAll('#helpBody .v')).map(v => getComputedStyle(v).color),
      notes: Array.from(document.querySelectorAll('#helpBody .note')).map(n => n.className + ': ' + n.querySelector('b').textContent),
    }));
    assert.deepEqual(help.verdicts, ['v pass ПРОХОДИТ', 'v reach ДОСТУЧАЛСЯ', 'v partial ЧАСТИЧНО', 'v dpi DPI / СБРОС', 'v blocked БЛОК']);
    assert.deepEqual(help.colours, ['rgb(91, 227, 160)', 'rgb(76, 215, 232)', 'rgb(255, 180, 84)', 'rgb(255, 138, 92)', 'rgb(255, 92, 122)']);
    assert.deepEqual(help.notes, ['note: Фильтр по SNI.', 'note: Фильтр по IP.', 'note warn: Ограничение.',
      'note: Сравнение отпечатков.']);
    // The limitation stays word for word; the comparison's note comes right under it.
    const six = await tv.api(() => {
      const n = document.querySelectorAll('#helpBody .note')[2];
      return [n.textContent, n.nextElementSibling.textContent];
    });
    assert.equal(six[0], 'Ограничение. Сканер использует TLS Windows (SChannel), поэтому ClientHello отличается от ' +
      'браузерного. Если DPI смотрит на отпечаток TLS, результат может не совпасть с реальным туннелем. Это первая ' +
      'оценка, а не гарантия.');
    assert.match(six[1], /^Сравнение отпечатков\. .*«Отпечаток: сравнить».*«фильтр по отпечатку TLS»/);
  });
});

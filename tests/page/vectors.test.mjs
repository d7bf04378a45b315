// The page's status and matrix rules against the vectors shared with the
// command-line front (tests/vectors/status_matrix.json).
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { launch, withTv } from './harness.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const V = JSON.parse(fs.readFileSync(path.join(here, '../vectors/status_matrix.json'), 'utf8'));

let browser;
before(async () => { browser = await launch(); });
after(async () => { await browser.close(); });

test('calcStatus matches the shared status cases', async () => {
  await withTv(browser, {}, async tv => {
    const got = await tv.api(cases => cases.map(c => {
      const rows = c.rows.map((r, i) => ({ host: 'h' + i, group: r.group, res: r.verdict === null ? null : { verdict: r.verdict } }));
      return window.__tvTest.api.calcStatus(rows);
    }), V.status);
    V.status.forEach((c, i) => assert.deepEqual(got[i], c.expect, c.name));
  });
});

test('analyzeMx matches the shared matrix cases', async () => {
  await withTv(browser, {}, async tv => {
    const got = await tv.api(cases => {
      const api = window.__tvTest.api;
      const base = new Set(api.WHITE_BASE);
      return cases.map(c => {
        // The case's white names come from ru rows; every other name of the
        // case must not be white by the built-in list.
        const stray = c.snis.filter(s => s !== '-' && s !== '?' && !c.white.includes(s) && base.has(s));
        const cells = {};
        for (const x of c.cells) cells[x.ip + '|' + x.sni] = Object.assign({ t: 'res', host: x.ip, sni: x.sni, tls: 'x' }, x);
        api.S.domRows = c.white.map(h => ({ host: h, group: 'ru', res: null }));
        api.S.mx = { ips: c.ips, snis: c.snis, cells, rand: c.random || '' };
        const box = document.createElement('div');
        box.innerHTML = api.analyzeMx();
        const notes = Array.from(box.children).map(n => {
          const first = n.firstElementChild;
          let ip = '', html = n.innerHTML;
          if (first && first.matches('b.mono') && html.startsWith(first.outerHTML + ' — ')) {
            ip = first.textContent;
            html = html.slice(first.outerHTML.length + 3);
          }
          return { ip, cls: n.className, text: html };
        });
        return { stray, notes };
      });
    }, V.matrix);
    assert.equal(await tv.api(() => window.__tvTest.api.WHITE_BASE.length), 16);
    V.matrix.forEach((c, i) => {
      assert.deepEqual(got[i].stray, [], c.name + ': a foreign name is in WHITE_BASE');
      assert.deepEqual(got[i].notes, c.expect, c.name);
    });
  });
});

test('the VPN and DNS warnings match the shared cases', async () => {
  await withTv(browser, {}, async tv => {
    const got = await tv.api(cases => {
      const api = window.__tvTest.api;
      return cases.map(c => {
        api.S.basics = c.basics;
        api.S.domRows = c.rows.map((r, i) => ({ host: 'h' + i, group: r.group, res: Object.assign({ t: 'res' }, r) }));
        return { vpn: api.vpnSuspect(), dns: api.dnsSuspect() };
      });
    }, V.warnings);
    V.warnings.forEach((c, i) => assert.deepEqual(got[i], c.expect, c.name));
  });
});

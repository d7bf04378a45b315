// Every script piece of the page parses on its own, so a piece can be read,
// edited and checked without the others.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import vm from 'node:vm';
import { fileURLToPath } from 'node:url';

const web = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../../web');

test('each script piece parses alone', () => {
  const pieces = fs.readFileSync(path.join(web, 'pieces.txt'), 'utf8').split('\n')
    .map(l => l.trim()).filter(l => l && !l.startsWith('#') && l.endsWith('.js'));
  assert.ok(pieces.length >= 5, 'the script comes in pieces');
  for (const p of pieces) {
    // The embed step puts a string literal where a list token stands.
    const text = fs.readFileSync(path.join(web, p), 'utf8').replace(/@LIST:[a-z_]+@/g, '""');
    assert.doesNotThrow(() => new vm.Script(text, { filename: p }), p);
  }
});

// Checks JSON documents against a JSON Schema with Ajv and prints, for each document that does
// not satisfy it, its name and what is wrong; exits 1 when any does not.
//   node validate_json.mjs TOOLS_PREFIX SCHEMA FILE...
// TOOLS_PREFIX is the folder Ajv was installed into (npm --prefix).
import { readFile } from 'node:fs/promises';
import { createRequire } from 'node:module';
import path from 'node:path';

const [prefix, schemaFile, ...files] = process.argv.slice(2);
if (!prefix || !schemaFile) {
  console.error('usage: node validate_json.mjs TOOLS_PREFIX SCHEMA FILE...');
  process.exit(2);
}
let Ajv2020;
try {
  Ajv2020 = createRequire(path.join(path.resolve(prefix), 'package.json'))('ajv/dist/2020').default;
} catch (error) {
  console.error(`Ajv is not installed under ${prefix}: ${error.message}`);
  process.exit(3);
}
const ajv = new Ajv2020({ allErrors: true, strict: true });
const validate = ajv.compile(JSON.parse(await readFile(schemaFile, 'utf8')));
let failed = 0;
for (const file of files) {
  let document;
  try {
    document = JSON.parse(await readFile(file, 'utf8'));
  } catch (error) {
    console.log(`${file}: not JSON: ${error.message}`);
    ++failed;
    continue;
  }
  if (validate(document)) continue;
  ++failed;
  for (const e of validate.errors)
    console.log(`${file}: ${e.instancePath || '/'} ${e.message} ${JSON.stringify(e.params)}`);
}
console.log(`${files.length - failed} valid, ${failed} not`);
process.exit(failed ? 1 : 0);

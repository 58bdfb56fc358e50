// Runs the glTF validator on .glb and .gltf files and prints one JSON object that maps each file
// to its report; files a .gltf names are read from its folder.
//   node validate_gltf.mjs VALIDATOR_PREFIX FILE...
// VALIDATOR_PREFIX is the folder the validator package was installed into (npm --prefix).
import { readFile } from 'node:fs/promises';
import { createRequire } from 'node:module';
import path from 'node:path';

const [prefix, ...files] = process.argv.slice(2);
if (!prefix || files.length === 0) {
  console.error('usage: node validate_gltf.mjs VALIDATOR_PREFIX FILE...');
  process.exit(2);
}
let validator;
try {
  validator = createRequire(path.join(path.resolve(prefix), 'package.json'))('gltf-validator');
} catch (error) {
  console.error(`the glTF validator is not installed under ${prefix}: ${error.message}`);
  process.exit(3);
}
const reports = {};
for (const file of files) {
  const folder = path.dirname(path.resolve(file));
  try {
    const bytes = new Uint8Array(await readFile(file));
    reports[file] = await validator.validateBytes(bytes, {
      uri: path.basename(file),
      maxIssues: 0,
      externalResourceFunction: async (uri) =>
        new Uint8Array(await readFile(path.join(folder, decodeURIComponent(uri)))),
    });
  } catch (error) {
    console.error(`${file}: ${error.message ?? error}`);
    process.exit(1);
  }
}
console.log(JSON.stringify(reports));

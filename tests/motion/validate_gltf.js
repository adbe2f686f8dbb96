// Runs the Khronos glTF validator on a file; prints its counts and every error, and exits 1 when
// it finds errors. Usage: node validate_gltf.js FILE.glb|FILE.gltf
'use strict';
const fs = require('fs');
const path = require('path');
const validator = require('gltf-validator');

const file = process.argv[2];
validator
  .validateBytes(new Uint8Array(fs.readFileSync(file)), {
    uri: path.basename(file),
    maxIssues: 50,
  })
  .then((report) => {
    const issues = report.issues;
    console.log(`${file}: ${issues.numErrors} errors, ${issues.numWarnings} warnings, ` +
                `${issues.numInfos} infos, ${issues.numHints} hints`);
    for (const m of issues.messages) console.log(`  ${m.severity} ${m.code} ${m.pointer || ''}: ${m.message}`);
    process.exit(issues.numErrors > 0 ? 1 : 0);
  })
  .catch((error) => {
    console.error(`${file}: the validator failed: ${error}`);
    process.exit(1);
  });

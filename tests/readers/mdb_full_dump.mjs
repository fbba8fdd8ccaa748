// A whole-database dump of an .mdb, independent of the engine: mdb-reader reads the rows and the
// system tables, and the table definitions are decoded here straight from the pages (mdb-reader
// does not expose indexes or the AutoNumber counter). Two files that hold the same database give
// the same text, whatever their page layout, object ids or dates of creation: those are left out,
// and objects are listed by name.
import { readFileSync } from "node:fs";
import MDBReader from "mdb-reader";

const PAGE = 4096;

function hex(v) {
  return v === null || v === undefined ? null : Buffer.from(v).toString("hex");
}

function text(v) {
  if (v === null || v === undefined) return null;
  if (v instanceof Date) return v.toISOString();
  if (v instanceof Uint8Array) return hex(v);
  return String(v);
}

// The logical TDEF buffer: the first page whole, then bytes 8.. of each continuation page.
function tdefBuffer(file, page) {
  const parts = [];
  const seen = new Set();
  for (let p = page, first = true; p !== 0 && !seen.has(p); first = false) {
    seen.add(p);
    const bytes = file.subarray(p * PAGE, (p + 1) * PAGE);
    parts.push(first ? bytes : bytes.subarray(8));
    p = bytes.readUInt32LE(4);
  }
  return Buffer.concat(parts);
}

function readTableDefinition(file, page) {
  const b = tdefBuffer(file, page);
  const columnCount = b.readUInt16LE(0x2d);
  const logicalCount = b.readUInt32LE(0x2f);
  const realCount = b.readUInt32LE(0x33);
  let at = 0x3f + 12 * realCount;
  const columns = [];
  for (let i = 0; i < columnCount; i++, at += 25) {
    columns.push({
      type: b[at], number: b.readUInt16LE(at + 5), typeInfo: b.subarray(at + 11, at + 15).toString("hex"),
      flags: b[at + 15], extraFlags: b[at + 16], length: b.readUInt16LE(at + 23),
    });
  }
  for (const c of columns) {
    const n = b.readUInt16LE(at);
    c.name = b.subarray(at + 2, at + 2 + n).toString("utf16le");
    at += 2 + n;
  }
  const byNumber = new Map(columns.map((c) => [c.number, c.name]));
  const real = [];
  for (let i = 0; i < realCount; i++, at += 52) {
    const keys = [];
    for (let s = 0; s < 10; s++) {
      const number = b.readUInt16LE(at + 4 + 3 * s);
      if (number === 0xffff) continue;
      keys.push(`${byNumber.get(number) ?? `#${number}`} ${b[at + 6 + 3 * s] === 1 ? "ASC" : "DESC"}`);
    }
    real.push({ keys, flags: b[at + 46] });
  }
  const logical = [];
  for (let i = 0; i < logicalCount; i++, at += 28) {
    logical.push({
      real: b.readUInt32LE(at + 8), side: b[at + 12], otherPage: b.readUInt32LE(at + 17),
      cascadeUpdate: b[at + 21], cascadeDelete: b[at + 22], type: b[at + 23],
    });
  }
  for (const l of logical) {
    const n = b.readUInt16LE(at);
    l.name = b.subarray(at + 2, at + 2 + n).toString("utf16le");
    at += 2 + n;
  }
  return { lastAutoNumber: b.readUInt32LE(0x14), rowCount: b.readUInt32LE(0x10), columns, real, logical };
}

function byName(a, b) {
  return a.name < b.name ? -1 : a.name > b.name ? 1 : 0;
}

const path = process.argv[2];
const file = readFileSync(path);
const reader = new MDBReader(file);
const objects = reader.getTable("MSysObjects").getData();
const tablePages = new Map(objects.filter((o) => o.Type === 1).map((o) => [o.Id & 0xffffff, o.Name]));
const userObjects = objects.filter((o) => (o.Type === 1 || o.Type === 5) && !String(o.Name).startsWith("MSys") &&
  !String(o.Name).startsWith("~"));

const tables = [];
for (const name of reader.getTableNames()) {
  const object = objects.find((o) => o.Type === 1 && o.Name === name);
  const def = readTableDefinition(file, object.Id & 0xffffff);
  const table = reader.getTable(name);
  const readerColumns = table.getColumns();
  const columns = def.columns.sort((x, y) => x.number - y.number).map((c) => {
    const r = readerColumns.find((rc) => rc.name === c.name) ?? {};
    // Bytes 11..14 mean something for Text and Memo (sort order) and Decimal (precision, scale)
    // only; Decimal may be stored in the fixed or the variable area alike.
    const meaningful = c.type === 0x0a || c.type === 0x0c || c.type === 0x10;
    return { name: c.name, type: c.type, typeInfo: meaningful ? c.typeInfo : null,
      flags: c.type === 0x10 ? c.flags & ~0x01 : c.flags, extraFlags: c.extraFlags,
      length: c.length, readerType: r.type ?? null, size: r.size ?? null, precision: r.precision ?? null,
      scale: r.scale ?? null };
  });
  // Indexes by name, each with the real index behind it (its key columns and flags).
  // Access names the "one" side of a relationship with a name of its own making (".rC"): such an
  // index is known by the table it pairs with.
  const indexes = def.logical.map((l) => ({
    name: l.type === 2 && l.side === 1 ? `(primary side with ${tablePages.get(l.otherPage)})` : l.name, type: l.type, keys: def.real[l.real]?.keys ?? null, flags: def.real[l.real]?.flags ?? null,
    foreignKey: l.type === 2 ? { side: l.side, otherTable: tablePages.get(l.otherPage) ?? null,
      cascadeUpdate: l.cascadeUpdate, cascadeDelete: l.cascadeDelete } : null,
  })).sort(byName);
  // Rows as a multiset: where a row lies on its pages is layout.
  const rows = table.getData().map((row) => readerColumns.map((c) => text(row[c.name])))
    .sort((x, y) => (JSON.stringify(x) < JSON.stringify(y) ? -1 : JSON.stringify(x) > JSON.stringify(y) ? 1 : 0));
  tables.push({ name, flags: object.Flags, hasProperties: object.LvProp != null, rowCount: def.rowCount, lastAutoNumber: def.lastAutoNumber, columns,
    indexes, rows });
}

// Relationships among Access's own navigation-pane tables belong to the program, not the database.
const relationships = reader.getTable("MSysRelationships").getData()
  .filter((r) => !String(r.szObject).startsWith("MSys")).map((r) => ({
  name: r.szRelationship, primary: r.szReferencedObject, primaryColumn: r.szReferencedColumn,
  foreign: r.szObject, foreignColumn: r.szColumn, column: r.icolumn, columns: r.ccolumn, flags: r.grbit,
})).sort((x, y) => (x.name + "\u0000" + x.column).localeCompare(y.name + "\u0000" + y.column));

const queryRows = reader.getTable("MSysQueries").getData();
const queries = userObjects.filter((o) => o.Type === 5).map((o) => ({
  name: o.Name, flags: o.Flags, hasProperties: o.LvProp != null,
  rows: queryRows.filter((r) => r.ObjectId === o.Id).map((r) => ({
    attribute: r.Attribute, order: hex(r.Order), flag: r.Flag ?? null, name1: r.Name1 ?? null, name2: r.Name2 ?? null,
    expression: r.Expression ?? null, extra: hex(r.LvExtra),
  })).sort((x, y) => x.attribute - y.attribute || (x.order < y.order ? -1 : x.order > y.order ? 1 : 0)),
})).sort(byName);

process.stdout.write(JSON.stringify({ tables: tables.sort(byName), relationships, queries }, null, 1));

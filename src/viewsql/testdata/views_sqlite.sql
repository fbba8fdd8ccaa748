-- Views as SQLite keeps them (sqlite_master), one per statement.
CREATE VIEW v_names AS SELECT a || ' ' || b AS full_name, x == y AS same, `weird name`, [bracketed], "quoted; name"
FROM t LIMIT 10;
CREATE TEMP VIEW IF NOT EXISTS "main"."v2" (a, b) AS
SELECT DISTINCT t1.a, t3.b FROM t1 JOIN t2 ON t1.id = t2.id LEFT OUTER JOIN t3 ON t3.id = t2.id INNER JOIN t4 ON 1, t5
WHERE t1.a ISNULL OR t2.b NOTNULL OR t3.c NOT NULL OR t4.d IS NULL OR t5.e IS NOT NULL;
CREATE VIEW literals AS SELECT TRUE, FALSE, X'0A1b', 0x1F, 0xFFFFFFFFFFFFFFFF, NULL, 'it''s', 1e-3, CAST(x AS INTEGER),
  CAST(y AS unsigned big int), CAST(z AS "REAL") FROM t;
CREATE VIEW contacts AS
SELECT 'customer' AS kind, name FROM customers
UNION ALL
SELECT 'supplier', name FROM suppliers ORDER BY 2 LIMIT (5 + 5);
CREATE VIEW recent AS
SELECT o.id, CASE o.status WHEN 1 THEN 'open' ELSE 'closed' END AS status,
  CASE WHEN o.total > 100 THEN 'big' END AS size, strftime('%Y', o.created) AS year
FROM orders o, (SELECT id FROM customers WHERE active) c
WHERE o.customer = c.id AND o.created BETWEEN date('now', '-7 days') AND date('now')
  AND o.note LIKE '%x%' ESCAPE '\' AND o.id IN (1, 2, 3) AND o.kind NOT IN (SELECT kind FROM skipped);
CREATE VIEW precedence AS SELECT a || b * c AS p1, 1 < 2 = 1 AS p2, a & b + c AS p3, NOT a = b AS p4, ~-x AS p5 FROM t;
SELECT count(DISTINCT a), count(*), total(b) FROM t GROUP BY c HAVING count(*) > 1;
SELECT name FROM t WHERE name GLOB 'a*';
SELECT name FROM t WHERE name REGEXP '^a';
SELECT name FROM docs WHERE docs MATCH 'access';
SELECT name FROM t LIMIT 5 OFFSET 2;
SELECT name FROM t LIMIT 2, 5;
SELECT name, rank() OVER (ORDER BY score) FROM t;
WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n) SELECT x FROM n;
SELECT a FROM t WHERE a IS b;
SELECT a FROM t NATURAL JOIN u;
SELECT a FROM t JOIN u USING (id);
SELECT a FROM t ORDER BY a COLLATE NOCASE;
SELECT a FROM t EXCEPT SELECT a FROM u;
VALUES (1, 2);
SELECT data ->> '$.name' FROM t;
SELECT flags << 2 FROM t;
SELECT a FROM t WHERE b = :param;
SELECT FROM t;
SELECT count(DISTINCT region) AS regions FROM customers WHERE active = 1;
SELECT region, count(DISTINCT qty) AS sizes, region AS again FROM orders GROUP BY region;
SELECT count(DISTINCT qty), count(DISTINCT region) FROM orders;
SELECT region, count(DISTINCT qty) FROM orders GROUP BY region HAVING count(DISTINCT qty) > 1;
SELECT qty, count(DISTINCT region) FROM orders GROUP BY region;
SELECT date(ordered), datetime(ordered, '+1 days', '-2 hours'), time(ordered), date('2024-01-31', 'start of month', '+1 months', '-1 days') FROM orders;
SELECT strftime('%Y-%m', ordered, 'start of year'), julianday(shipdate) - julianday(ordered) AS days FROM orders;
SELECT julianday(ordered) FROM orders;
SELECT date(ordered, 'weekday 0') FROM orders;
SELECT date(ordered, '+1.5 days') FROM orders;
SELECT strftime('%w', ordered) FROM orders;
SELECT region, total(qty) AS units, CAST(qty AS REAL) / 3 AS third FROM orders GROUP BY region, qty;
SELECT a FROM t /* unterminated comment runs to the end

-- The sample database of Tabulon: a small trading company in SQLite, built from this script
-- at build time (no data file is kept). It holds every column type the SQLite source maps to
-- an Access type, single and composite primary keys, unique and plain indexes (descending and
-- composite ones too), foreign keys (one of them on the table itself) with delete and update
-- rules, two views, texts in several scripts (a text key over names of half of Europe among
-- them), NULL values, and one table of 120,000 generated rows.
PRAGMA foreign_keys = ON;
BEGIN;

-- Byte (TINYINT), Text, Memo. (The unique names are Latin: the .mdb engine gives up an index
-- whose keys hold letters its sort order does not know, Greek or kana for now; such texts stay
-- in columns without an index.)
CREATE TABLE regions (
  id          TINYINT PRIMARY KEY,
  name        NVARCHAR(40) NOT NULL UNIQUE,
  description TEXT
);

-- A text key over Latin letters beyond Latin-1 (Polish, Czech, Hungarian, Turkish, Baltic,
-- Croatian), which sort among the plain ones: Łódź after Lodz, before Lublin.
CREATE TABLE cities (
  name        NVARCHAR(40) PRIMARY KEY,
  country     NVARCHAR(30) NOT NULL,
  region_id   TINYINT REFERENCES regions(id),
  population  INTEGER
);

-- Long key, Binary(n) and Long Binary (BLOB), a time of day.
CREATE TABLE categories (
  id          INTEGER PRIMARY KEY,
  name        VARCHAR(30) NOT NULL UNIQUE,
  code        BINARY(4),
  picture     BLOB,
  opens_at    TIME
);

CREATE TABLE suppliers (
  id          INTEGER PRIMARY KEY,
  company     NVARCHAR(60) NOT NULL,
  country     VARCHAR(30),
  region_id   TINYINT REFERENCES regions(id),
  phone       VARCHAR(24),
  homepage    TEXT
);

-- Currency (MONEY), Short (SMALLINT), Yes/No (BOOLEAN), Double (REAL), a default.
CREATE TABLE products (
  id             INTEGER PRIMARY KEY,
  name           NVARCHAR(60) NOT NULL,
  supplier_id    INTEGER REFERENCES suppliers(id),
  category_id    INTEGER REFERENCES categories(id),
  unit_price     MONEY NOT NULL DEFAULT 0,
  units_in_stock SMALLINT,
  discontinued   BOOLEAN NOT NULL DEFAULT FALSE,
  weight_kg      REAL
);

-- A text key, a date with a time, a default of the current time.
CREATE TABLE customers (
  code        CHAR(5) PRIMARY KEY,
  company     NVARCHAR(60) NOT NULL,
  contact     NVARCHAR(40),
  city        NVARCHAR(30),
  region_id   TINYINT REFERENCES regions(id),
  created     DATETIME DEFAULT CURRENT_TIMESTAMP
);

-- A relationship of a table with itself (manager), a date, a column without a declared type.
CREATE TABLE employees (
  id          INTEGER PRIMARY KEY,
  first_name  NVARCHAR(20) NOT NULL,
  last_name   NVARCHAR(30) NOT NULL,
  birth_date  DATE,
  manager_id  INTEGER REFERENCES employees(id) ON DELETE SET NULL,
  rating      TINYINT,
  notes
);

-- Numeric(10,2) (DECIMAL), dates, a unique pair of columns.
CREATE TABLE orders (
  id            INTEGER PRIMARY KEY,
  customer_code CHAR(5) NOT NULL REFERENCES customers(code),
  employee_id   INTEGER REFERENCES employees(id),
  ordered       DATETIME NOT NULL,
  shipped       DATE,
  freight       DECIMAL(10,2),
  UNIQUE (customer_code, ordered)
);

-- A composite primary key; Double (FLOAT); CHECK constraints (validation rules in Access).
CREATE TABLE order_lines (
  order_id    INTEGER NOT NULL REFERENCES orders(id) ON DELETE CASCADE,
  line_no     SMALLINT NOT NULL,
  product_id  INTEGER NOT NULL REFERENCES products(id),
  quantity    INTEGER NOT NULL CONSTRAINT ck_quantity CHECK (quantity > 0),
  unit_price  MONEY NOT NULL CONSTRAINT ck_unit_price CHECK (unit_price >= 0),
  discount    FLOAT CHECK (discount BETWEEN 0 AND 1),
  PRIMARY KEY (order_id, line_no),
  CONSTRAINT ck_line_total CHECK (quantity * unit_price < 1000000)
);

-- A composite key of a number and a date; Numeric(19,0) (BIGINT), Numeric(12,4).
CREATE TABLE price_history (
  product_id  INTEGER NOT NULL REFERENCES products(id) ON DELETE CASCADE ON UPDATE CASCADE,
  valid_from  DATE NOT NULL,
  price       DECIMAL(12,4) NOT NULL,
  batch       BIGINT,
  PRIMARY KEY (product_id, valid_from)
);

-- The big table: sensor readings of the warehouses, generated below.
CREATE TABLE readings (
  id          INTEGER PRIMARY KEY,
  sensor      VARCHAR(12) NOT NULL,
  taken       DATETIME NOT NULL,
  celsius     DOUBLE,
  humidity    TINYINT,
  counter     BIGINT NOT NULL,
  alarm       BOOLEAN NOT NULL
);

-- Plain indexes: one descending, one over two columns.
CREATE INDEX orders_by_date ON orders(ordered DESC);
CREATE INDEX readings_by_sensor ON readings(sensor, taken DESC);

INSERT INTO regions VALUES
  (1, 'North', 'Scandinavia and the Baltic'),
  (2, 'Süd', 'Deutschland, Österreich, Schweiz'),
  (3, 'Hellas', NULL),
  (4, 'East Asia', '東アジア: 日本・中国・韓国'),
  (5, 'Empty note', '');

INSERT INTO cities VALUES
  ('Łódź', 'Polska', NULL, 658444),
  ('Kraków', 'Polska', NULL, 804237),
  ('Plzeň', 'Česko', NULL, 175219),
  ('České Budějovice', 'Česko', NULL, 97377),
  ('Győr', 'Magyarország', NULL, 129527),
  ('İstanbul', 'Türkiye', NULL, 15655924),
  ('Şişli', 'Türkiye', NULL, 274289),
  ('Rīga', 'Latvija', 1, 605273),
  ('Klaipėda', 'Lietuva', 1, 158541),
  ('Đakovo', 'Hrvatska', NULL, 27745),
  ('Malmö', 'Sverige', 1, 357377),
  ('Zürich', 'Schweiz', 2, 421878),
  ('Oslo', 'Norge', 1, 709037);

INSERT INTO categories VALUES
  (1, 'Beverages', X'42455600', X'89504E470D0A1A0A0000000D49484452', '08:00:00'),
  (2, 'Condiments', X'434F4E44', NULL, '09:30:00'),
  (3, 'Confections', NULL, X'', NULL),
  (4, 'Dairy', X'00FF00FF', X'00', '06:15:30'),
  (5, 'Seafood', X'53454146', zeroblob(3000), '23:59:59');

INSERT INTO suppliers VALUES
  (1, 'Exotic Liquids', 'UK', 1, '(171) 555-2222', NULL),
  (2, 'Nouvelle-Orléans Cajun Delights', 'USA', NULL, '(100) 555-4822', '#CAJUN.HTM#'),
  (3, 'Tokyo Traders 東京', 'Japan', 4, NULL, 'https://example.com/tokyo'),
  (4, 'Bäckerei O''Neil', 'Deutschland', 2, '089-555 00 11', ''),
  (5, 'Αθηναϊκά Τρόφιμα', 'Ελλάδα', 3, '+30 21 0555 0000', NULL);

INSERT INTO products VALUES
  (1, 'Chai', 1, 1, 18.00, 39, FALSE, 0.5),
  (2, 'Chang', 1, 1, 19.00, 17, FALSE, 0.75),
  (3, 'Aniseed Syrup', 1, 2, 10.00, 13, FALSE, 0.1),
  (4, 'Chef Anton''s Cajun Seasoning', 2, 2, 22.00, 53, FALSE, 0.3333333333333333),
  (5, 'Gumbo Mix "Original"', 2, 2, 21.35, 0, TRUE, NULL),
  (6, 'Ikura いくら', 3, 5, 31.00, 31, FALSE, 1.25),
  (7, 'Brezel mit Kümmel', 4, 3, 1.2345, -5, FALSE, 0.07),
  (8, 'Φέτα', 5, 4, 9.99, NULL, FALSE, 3.141592653589793),
  (9, 'Tofu 🍱 box', 3, NULL, 23.25, 35, TRUE, 2.5e-3),
  (10, 'Discount line', NULL, 1, 0, 32767, FALSE, -0.0);

INSERT INTO customers VALUES
  ('ALFKI', 'Alfreds Futterkiste', 'Maria Anders', 'Berlin', 2, '2020-01-15 10:00:00'),
  ('ANATR', 'Ana Trujillo Emparedados y helados', 'Ana Trujillo', 'México D.F.', NULL, '2020-02-29 23:59:59'),
  ('BERGS', 'Berglunds snabbköp', 'Christina Berglund', 'Luleå', 1, '2021-06-01 08:30:15.250'),
  ('CHOPS', 'Chop-suey Chinese 炒杂碎', NULL, '北京', 4, NULL),
  ('ELLAS', 'Ελληνικά Delikatessen', 'Νίκος Παπαδόπουλος', 'Αθήνα', 3, '1999-12-31 12:00:00'),
  ('QUOTE', 'It''s "quoted" & <tagged>', 'O''Brien', '', NULL, '2024-07-04 00:00:00');

INSERT INTO employees VALUES
  (1, 'Andrew', 'Fuller', '1952-02-19', NULL, 5, 'Vice president; joined in 1992.'),
  (2, 'Nancy', 'Davolio', '1968-12-08', 1, 4, 42),
  (3, 'Janet', 'Leverling', '1963-08-30', 1, NULL, NULL),
  (4, 'Margaret', 'Peacock', '1958-09-19', 1, 3, 'Speaks Ελληνικά'),
  (5, 'Steven', 'Buchanan', '1955-03-04', 2, 4, '');

INSERT INTO orders VALUES
  (10248, 'ALFKI', 5, '2024-01-04 09:15:00', '2024-01-16', 32.38),
  (10249, 'ANATR', 4, '2024-01-05 11:00:00', '2024-01-10', 11.61),
  (10250, 'BERGS', 4, '2024-01-08 14:45:30', NULL, 65.83),
  (10251, 'CHOPS', 3, '2024-01-08 16:00:00', '2024-01-15', NULL),
  (10252, 'ELLAS', NULL, '2024-02-29 00:00:00', '2024-03-01', 51.30),
  (10253, 'ALFKI', 2, '2024-03-10 08:00:00', NULL, 0);

INSERT INTO order_lines VALUES
  (10248, 1, 1, 12, 14.00, 0),
  (10248, 2, 4, 10, 9.80, NULL),
  (10248, 3, 7, 5, 34.80, 0.15),
  (10249, 1, 6, 9, 18.60, 0),
  (10249, 2, 9, 40, 42.40, 0.05),
  (10250, 1, 2, 10, 7.70, 0.25),
  (10250, 2, 8, 35, 42.40, 0.15),
  (10251, 1, 3, 6, 16.80, 0.05),
  (10252, 1, 5, 40, 64.80, 0.05),
  (10252, 2, 10, 25, 2.00, 0.1),
  (10253, 1, 1, 20, 16.00, 0);

INSERT INTO price_history VALUES
  (1, '2022-01-01', 16.5, 9000000000),
  (1, '2023-01-01', 17.25, 9000000001),
  (1, '2024-01-01', 18, NULL),
  (5, '2023-06-15', 21.3456, -4611686018427387904),
  (7, '2024-02-29', 1.2345, 1);

-- 120,000 readings: 40 sensors, one reading a minute from 2024-01-01; every 97th reading has
-- lost its temperature.
INSERT INTO readings
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 120000)
SELECT i,
       'sensor-' || printf('%02d', i % 40),
       datetime('2024-01-01 00:00:00', '+' || i || ' minutes'),
       CASE WHEN i % 97 = 0 THEN NULL ELSE round(18.0 + (i % 250) * 0.125 - (i % 7) * 1.5, 3) END,
       i % 101,
       i * 1000003,
       (i % 500) = 0
FROM n;

CREATE VIEW product_list AS
  SELECT p.id, p.name, c.name AS category, p.unit_price
  FROM products AS p INNER JOIN categories AS c ON p.category_id = c.id
  WHERE p.discontinued = 0;

CREATE VIEW open_orders AS
  SELECT o.id, o.customer_code, o.ordered, o.freight
  FROM orders AS o
  WHERE o.shipped IS NULL;

-- Views with what Access writes differently: joins nested in parentheses, || as &, IFNULL and
-- CASE as IIf, strftime as Format, and a view that reads another view (created after it).
CREATE VIEW order_totals AS
  SELECT o.id, c.company AS customer, strftime('%Y-%m', o.ordered) AS month,
         COUNT(*) AS lines, SUM(l.quantity * l.unit_price * (1 - IFNULL(l.discount, 0))) AS total
  FROM orders AS o
  INNER JOIN customers AS c ON c.code = o.customer_code
  INNER JOIN order_lines AS l ON l.order_id = o.id
  GROUP BY o.id, c.company, strftime('%Y-%m', o.ordered);

CREATE VIEW big_orders AS
  SELECT customer, month, total FROM order_totals WHERE total > 100;

CREATE VIEW employee_names AS
  SELECT id, last_name || ', ' || first_name AS name,
         CASE WHEN manager_id IS NULL THEN 'head' ELSE 'staff' END AS role
  FROM employees;

COMMIT;

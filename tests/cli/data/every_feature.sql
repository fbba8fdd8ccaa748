CREATE TABLE Regions (Code TEXT(4) NOT NULL, Name TEXT(40), CONSTRAINT PrimaryKey PRIMARY KEY (Code));
CREATE TABLE Customers (Id COUNTER, Region TEXT(4), Name TEXT(60) NOT NULL, Email TEXT(80),
  Balance CURRENCY DEFAULT 0, Joined DATETIME DEFAULT Now(), Active YESNO DEFAULT TRUE,
  Token GUID DEFAULT GenGUID(), Notes MEMO, Photo LONGBINARY, Rate DECIMAL(12,4), Score DOUBLE,
  CONSTRAINT PrimaryKey PRIMARY KEY (Id));
CREATE UNIQUE INDEX EmailKey ON Customers (Email) WITH IGNORE NULL;
CREATE INDEX NameRegion ON Customers (Name ASC, Region DESC);
CREATE INDEX Joined ON Customers (Joined DESC) WITH DISALLOW NULL;
CREATE TABLE Orders (OrderNo LONG NOT NULL, Customer LONG, Placed DATETIME NOT NULL, Total CURRENCY,
  CONSTRAINT PrimaryKey PRIMARY KEY (OrderNo));
CREATE TABLE Lines (OrderNo LONG NOT NULL, LineNo SHORT NOT NULL, Item TEXT(30), Qty SINGLE, Price NUMERIC(10,2),
  CONSTRAINT PrimaryKey PRIMARY KEY (OrderNo, LineNo));
CREATE TABLE Notes (Id COUNTER, Customer LONG, Body TEXT(200), CONSTRAINT PrimaryKey PRIMARY KEY (Id));
CREATE TABLE Audit (Id LONG, Customer LONG, Stamp DATETIME);
INSERT INTO Regions VALUES ('N', 'North');
INSERT INTO Regions VALUES ('S', 'South');
INSERT INTO Customers (Region, Name, Email, Balance, Joined, Token, Notes, Photo, Rate, Score)
  VALUES ('N', 'Ada', 'ada@example.org', 12.5, #2024-02-29 13:45:10#, '{6F9619FF-8B86-D011-B42D-00C04FC964FF}', 'first line', 0x00FF10, 1.2345, 0.1);
INSERT INTO Customers (Region, Name, Email, Joined, Token) VALUES ('S', 'Łukasz ''Ł'' Dvořák', NULL, #1899-12-30#, '{00000000-0000-0000-0000-000000000001}');
INSERT INTO Customers (Region, Name, Email, Joined, Token, Active) VALUES (NULL, 'Zoë', 'z@example.org', #2000-01-01 00:00:01#, '{00000000-0000-0000-0000-000000000002}', FALSE);
INSERT INTO Customers (Id, Name, Joined, Token) VALUES (40, 'Forty', #2010-10-10#, '{00000000-0000-0000-0000-000000000040}');
DELETE FROM Customers WHERE Id = 40;
INSERT INTO Orders VALUES (100, 1, #2024-03-01#, 12.5);
INSERT INTO Orders VALUES (101, 2, #2024-03-02 08:00:00#, 0.0001);
INSERT INTO Lines VALUES (100, 1, 'pen', 2.5, 1.25);
INSERT INTO Lines VALUES (100, 2, 'ink', 1, 10);
INSERT INTO Notes (Customer, Body) VALUES (1, 'call back');
INSERT INTO Audit VALUES (1, 7, #2024-01-01#);
ALTER TABLE Customers ADD CONSTRAINT RegionsCustomers FOREIGN KEY (Region) REFERENCES Regions (Code) ON UPDATE CASCADE;
ALTER TABLE Orders ADD CONSTRAINT CustomersOrders FOREIGN KEY (Customer) REFERENCES Customers (Id) ON DELETE CASCADE;
ALTER TABLE Lines ADD CONSTRAINT OrdersLines FOREIGN KEY (OrderNo) REFERENCES Orders (OrderNo) ON UPDATE CASCADE ON DELETE CASCADE;
ALTER TABLE Notes ADD CONSTRAINT CustomersNotes FOREIGN KEY (Customer) REFERENCES Customers (Id) ON DELETE SET NULL;
ALTER TABLE Audit ADD CONSTRAINT CustomersAudit FOREIGN KEY (Customer) REFERENCES Customers (Id) NOT ENFORCED;
ALTER TABLE Customers SET PROPERTY Description = 'People who buy';
ALTER TABLE Customers ALTER COLUMN Name SET PROPERTY Caption = 'Full name';
ALTER TABLE Customers ALTER COLUMN Name SET PROPERTY Description = 'As written on the card';
ALTER TABLE Customers ALTER COLUMN Balance SET PROPERTY Format = 'Currency';
ALTER TABLE Customers ALTER COLUMN Email SET PROPERTY InputMask = 'CCCCCCCCCC';
ALTER TABLE Customers ALTER COLUMN Balance SET PROPERTY ValidationRule = '>=0';
ALTER TABLE Customers ALTER COLUMN Balance SET PROPERTY ValidationText = 'No debts';
ALTER TABLE Orders SET PROPERTY ValidationRule = '[Total] >= 0';
ALTER TABLE Orders SET PROPERTY ValidationText = 'A total is not negative';
CREATE VIEW OrderTotals AS SELECT c.Name, Sum(o.Total) AS Spent FROM Customers AS c INNER JOIN Orders AS o ON c.Id = o.Customer GROUP BY c.Name;
CREATE VIEW BigSpenders AS SELECT Name FROM OrderTotals WHERE Spent > 10 ORDER BY Name;
CREATE VIEW AllNames AS SELECT Name FROM Customers UNION SELECT Body FROM Notes;
CREATE QUERY `SpendByRegion` ROWS
(0, 1, 0, NULL, NULL, NULL),
(1, 1, 6, NULL, NULL, NULL),
(5, 1, NULL, 'Customers', NULL, NULL),
(5, 2, NULL, 'Orders', NULL, NULL),
(6, 1, 0, 'SumOfTotal', NULL, 'Sum([Orders].[Total])'),
(6, 2, 2, NULL, NULL, '[Customers].[Name]'),
(6, 3, 1, NULL, NULL, '[Customers].[Region]'),
(7, 1, 1, 'Customers', 'Orders', '[Customers].[Id]=[Orders].[Customer]'),
(9, 1, 2, NULL, NULL, '[Customers].[Name]'),
(9, 2, 1, NULL, NULL, '[Customers].[Region]'),
(255, 1, NULL, NULL, NULL, NULL);
CREATE QUERY `RaisePrices` ROWS
(0, 1, 0, NULL, NULL, NULL),
(1, 1, 4, NULL, NULL, NULL),
(2, 1, 6, 'Factor', NULL, NULL),
(3, 1, 0, NULL, NULL, NULL),
(5, 1, NULL, 'Lines', NULL, NULL),
(6, 1, 0, NULL, 'Lines.Price', '[Price]*[Factor]'),
(8, 1, NULL, NULL, NULL, '(([Lines].[Qty])>1)'),
(255, 1, NULL, NULL, NULL, NULL);
CREATE QUERY `ArchiveOrders` ROWS
(0, 1, 0, NULL, NULL, NULL),
(1, 1, 3, NULL, NULL, NULL),
(3, 1, 0, 'Audit', NULL, NULL),
(5, 1, NULL, 'Orders', NULL, NULL),
(6, 1, 0, NULL, 'Customer', '[Orders].[Customer]'),
(6, 2, 0, NULL, 'Stamp', '[Orders].[Placed]'),
(255, 1, NULL, NULL, NULL, NULL);
CREATE QUERY `DropOldNotes` ROWS
(0, 1, 0, NULL, NULL, NULL),
(1, 1, 5, NULL, NULL, NULL),
(3, 1, 0, NULL, NULL, NULL),
(5, 1, NULL, 'Notes', NULL, NULL),
(6, 1, 0, NULL, NULL, 'Notes.*'),
(8, 1, NULL, NULL, NULL, '((Notes.Body) Like "x*")'),
(255, 1, NULL, NULL, NULL, NULL);
CREATE QUERY `CopyRegions` ROWS
(0, 1, 0, NULL, NULL, NULL),
(1, 1, 2, NULL, NULL, NULL),
(3, 1, 0, 'RegionsCopy', NULL, NULL),
(5, 1, NULL, 'Regions', NULL, NULL),
(6, 1, 0, NULL, NULL, 'Regions.*'),
(255, 1, NULL, NULL, NULL, NULL);
CREATE QUERY `ServerNow` ROWS
(0, 1, 0, NULL, NULL, NULL),
(1, 1, 8, 'ODBC;DSN=Sales;', NULL, 0x53454C454354204745544441544528293B00),
(255, 1, NULL, NULL, NULL, NULL);
CREATE QUERY `MakeArchive` ROWS
(0, 1, 0, NULL, NULL, NULL),
(1, 1, 7, NULL, NULL, 'CREATE TABLE Archive (Id LONG, Body TEXT(50));'),
(255, 1, NULL, NULL, NULL, NULL);

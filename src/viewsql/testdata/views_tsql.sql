/* Views as SQL Server gives them (sp_helptext), one per GO batch. /* Comments nest here. */ GO */
CREATE VIEW [dbo].[OrderDetailsExtended] AS
SELECT o.OrderID, c.CompanyName AS Customer, e.LastName + ', ' + e.FirstName AS Employee,
       p.ProductName, od.Quantity * od.UnitPrice * (1 - od.Discount) AS ExtendedPrice
FROM dbo.Orders o
INNER JOIN dbo.Customers AS c ON c.CustomerID = o.CustomerID
INNER JOIN dbo.Employees e ON e.EmployeeID = o.EmployeeID
LEFT OUTER JOIN [Order Details] od ON od.OrderID = o.OrderID
LEFT JOIN dbo.Products p WITH (NOLOCK, INDEX(ix_products)) ON p.ProductID = od.ProductID
GO
CREATE VIEW dbo.AllContacts (Kind, Name, Phone) AS
SELECT 'Customer', CompanyName, Phone FROM dbo.Customers
UNION ALL
SELECT 'Supplier' AS Kind, CompanyName, Phone FROM dbo.Suppliers
UNION
SELECT N'Employé', LastName, HomePhone FROM dbo.Employees;
 go  
CREATE VIEW dbo.LatestOrders AS
SELECT c.CustomerID, (SELECT MAX(o.OrderDate) FROM dbo.Orders o WHERE o.CustomerID = c.CustomerID) AS LastOrder
FROM dbo.Customers c
WHERE EXISTS (SELECT 1 FROM dbo.Orders o2 WHERE o2.CustomerID = c.CustomerID AND o2.Freight > 100)
  AND c.Country NOT IN ('USA', 'Canada') AND c.CustomerID IN (SELECT CustomerID FROM dbo.Vip)
  AND NOT EXISTS (SELECT * FROM dbo.Blocked b WHERE b.CustomerID = c.CustomerID)
GO
CREATE VIEW dbo.TopProducts WITH SCHEMABINDING, VIEW_METADATA AS
SELECT TOP 10 ProductName, UnitPrice FROM dbo.Products ORDER BY UnitPrice DESC, ProductName ASC
GO
CREATE VIEW [Top Percent] AS SELECT TOP (5) PERCENT WITH TIES * FROM dbo.Products ORDER BY 2 DESC
GO
CREATE VIEW dbo.Orders1997 AS
SELECT * FROM dbo.Orders
WHERE OrderDate BETWEEN '19970101' AND '1997-12-31T23:59:59'
  AND ShippedDate NOT BETWEEN '1997-06-01' AND DATEADD(day, -1, '1997-07-01')
  AND RequiredDate >= CONVERT(datetime, '1997-01-01', 120) AND YEAR(OrderDate) = 1997
GO
CREATE VIEW dbo.Labels AS
SELECT Label = FirstName + ' ' + LastName,
  CAST(EmployeeID AS varchar(10)) + ':' + CONVERT(NVARCHAR(MAX), Notes) AS Code,
  CAST(Salary AS DECIMAL (10, 2)) AS Pay, CONVERT(varchar(8), HireDate, 112) [Hired], ISNULL(Region, N'-') 'Region',
  CAST(Id AS double precision) AS Real8, FirstName || LastName AS Joined
FROM dbo.Employees
GO
CREATE VIEW dbo.Grades AS
SELECT StudentID,
  CASE Grade WHEN 'A' THEN 4 WHEN 'B' THEN 3 ELSE 0 END AS Points,
  CASE WHEN Score >= 90 THEN 'high' WHEN Score IS NULL THEN NULL END AS Band
FROM dbo.Results
GO
CREATE VIEW dbo.SalesByCategory AS
SELECT DISTINCT c.CategoryName, COUNT(*) AS Products, COUNT(DISTINCT p.SupplierID) AS Suppliers,
  SUM(p.UnitPrice * p.UnitsInStock) Stock
FROM dbo.Categories c JOIN dbo.Products p ON p.CategoryID = c.CategoryID
GROUP BY c.CategoryName, p.Discontinued
HAVING COUNT(*) > 1 AND MIN(p.UnitPrice) <> 0
GO
CREATE VIEW dbo.Mixed AS
SELECT d.Total, s.*, Sales.dbo.Regions.RegionName, Sales..Regions.RegionID
FROM (SELECT CustomerID, SUM(Freight) AS Total FROM dbo.Orders GROUP BY CustomerID) AS d
CROSS JOIN dbo.Shippers s, ((dbo.Territories t INNER JOIN dbo.Regions r ON r.RegionID = t.RegionID)
  RIGHT JOIN Server1.Sales.dbo.Regions ON Regions.RegionID = r.RegionID) FULL JOIN x ON 1 = 1
GO
CREATE VIEW dbo.Flags AS
SELECT Name, Flags & 4 AS HasFour, Flags | 0x10 AS WithSixteen, ~Flags AS Inverted, -Amount % 7 AS Rest,
  Code ^ 1 AS Toggled, 0x AS Empty, +1 AS Plus
FROM dbo.Items -- a trailing comment; with a semicolon
WHERE Name LIKE 'O''%' ESCAPE '!' AND Note NOT LIKE N'%;%' AND Qty !< 1.5e2 AND Price !> .5
  AND Deleted IS NOT NULL AND NOT (Qty = 0 OR Qty != Qty)
GO
CREATE VIEW dbo.Precedence AS
SELECT 1 + 2 * 3 - 4 / 2 AS A, (1 + 2) * 3 AS B, ((SELECT COUNT(*) FROM t) + 1) AS C FROM t
WHERE a = 1 OR b = 2 AND NOT c = 3 OR d < e + f
GO
CREATE VIEW dbo.Funcs AS
SELECT LEFT(Name, 3) AS L, RIGHT(Name, 2) AS R, UPPER(LTRIM(RTRIM(Name))) AS U, CURRENT_TIMESTAMP AS Now,
  dbo.MyScalar(i.Id) AS S, GETDATE() AS G, DATEDIFF(month, i.Created, GETDATE()) AS Age
FROM dbo.Items i (NOLOCK) INNER HASH JOIN dbo.Parts AS p WITH (READUNCOMMITTED) ON p.Id = i.Id
WITH CHECK OPTION
GO
CREATE OR ALTER VIEW dbo.Nested AS
SELECT a.x, c.z FROM a JOIN b JOIN c ON c.bid = b.id ON b.aid = a.id
GO
(SELECT a FROM t1) UNION (SELECT b FROM t2 UNION SELECT c FROM t3) ORDER BY 1
GO
WITH recent AS (SELECT * FROM dbo.Orders) SELECT * FROM recent
GO
SELECT OrderID, ROW_NUMBER() OVER (ORDER BY OrderDate) AS n FROM dbo.Orders
GO
SELECT c.Name, o.Total FROM dbo.Customers c CROSS APPLY dbo.TopOrders(c.Id) o
GO
SELECT c.Name FROM dbo.Customers c OUTER APPLY (SELECT TOP 1 * FROM dbo.Orders) o
GO
SELECT Name FROM dbo.Customers ORDER BY Name OFFSET 10 ROWS FETCH NEXT 5 ROWS ONLY
GO
SELECT Name FROM dbo.Customers FOR XML PATH('c')
GO
SELECT Name FROM dbo.Customers FOR JSON AUTO
GO
SELECT Name FROM dbo.Customers FOR BROWSE
GO
SELECT Name FROM dbo.Docs WHERE CONTAINS(Body, 'access')
GO
SELECT Name FROM dbo.Docs WHERE FREETEXT(Body, 'access')
GO
SELECT d.Name FROM CONTAINSTABLE(dbo.Docs, Body, 'x') AS k JOIN dbo.Docs d ON d.Id = k.[KEY]
GO
SELECT * FROM dbo.OrdersSince('2020-01-01')
GO
SELECT * FROM OPENQUERY(Remote, 'SELECT 1')
GO
SELECT * FROM OPENROWSET('SQLNCLI', 'x', 'SELECT 1') AS r
GO
SELECT Name FROM dbo.Customers WHERE Id = @id
GO
SELECT Id FROM a EXCEPT SELECT Id FROM b
GO
SELECT Id FROM a INTERSECT SELECT Id FROM b
GO
SELECT Id INTO dbo.Copy FROM a
GO
SELECT * FROM (SELECT Year, Amount FROM s) AS src PIVOT (SUM(Amount) FOR Year IN ([2020])) AS p
GO
SELECT * FROM s UNPIVOT (Amount FOR Year IN (y2020, y2021)) AS u
GO
SELECT * FROM dbo.Big TABLESAMPLE (10 PERCENT)
GO
SELECT Name COLLATE Latin1_General_CI_AS AS n FROM dbo.Customers
GO
SELECT geography::Point(47.6, -122.3, 4326) AS Here
GO
SELECT TRY_CAST(Code AS int) FROM dbo.Items
GO
SELECT TRY_CONVERT(int, Code) FROM dbo.Items
GO
SELECT a FROM WHERE b = 1
GO
SELECT a FROM t WHERE b = ?
GO
CREATE VIEW v (a, AS SELECT 1
GO
SELECT COUNT(*) FROM t WHERE x > ALL (SELECT y FROM u)
GO
SELECT CASE WHEN a THEN b FROM t
GO
SELECT * FROM dbo.t
GO 
-- only a comment: no statement
-- the string runs to the end of the text
CREATE VIEW v AS SELECT 'unterminated FROM t
GO

-- A small sales database and views of many shapes, migrated whole; every view must give the
-- same rows in SQLite and as a saved query of the .mdb (view_corpus_test.cpp). Views named
-- diff_* show a known difference between the two and are checked for it instead.
create table region(id integer primary key, name varchar(30) not null, manager varchar(40));
create table customer(
  id integer primary key, name varchar(40) not null, city varchar(30), region_id integer references region(id),
  active boolean not null default 1, joined date, credit decimal(10,2), rating real);
create table category(id integer primary key, name varchar(30) not null, parent_id integer references category(id));
create table product(
  id integer primary key, name varchar(40) not null, category_id integer references category(id),
  price decimal(10,2) not null, weight real, discontinued boolean not null default 0, code varchar(10));
create table orders(
  id integer primary key, customer_id integer not null references customer(id), ordered date not null,
  shipped datetime, status varchar(12), note text);
create table order_line(
  order_id integer not null references orders(id), line integer not null,
  product_id integer not null references product(id), qty integer not null, unit_price decimal(10,2) not null,
  discount real not null default 0, primary key(order_id, line));

insert into region values (1, 'North', 'Ann Lee'), (2, 'South', null), (3, 'East', 'Bo Chan'), (4, 'West', 'Cy Diaz');
insert into customer values
  (1, 'Acme Corp', 'Oslo', 1, 1, '2021-03-15', 1500.00, 4.25),
  (2, 'bright ideas', 'Bergen', 1, 1, '2022-07-01', 250.50, 3.75),
  (3, 'Carl''s Cafe', null, 2, 0, '2020-11-30', 0, null),
  (4, 'DELTA Ltd', 'Madrid', 2, 1, null, 999.99, 2.5),
  (5, 'Echo_Works', 'Lyon', 3, 1, '2023-01-09', null, 4.75),
  (6, 'Fox & Sons', 'Oslo', null, 0, '2019-05-20', 75.25, 1.25),
  (7, 'gamma 100%', 'Porto', 3, 1, '2024-02-29', 3200.00, 3.5),
  (8, 'Hotel Nine', 'Lyon', 2, 1, '2022-12-31', 10.10, 4.0);
insert into category values (1, 'Hardware', null), (2, 'Tools', 1), (3, 'Garden', null), (4, 'Seeds', 3), (5, 'Paint', 1);
insert into product values
  (1, 'Hammer', 2, 12.50, 0.8, 0, 'HM-01'),
  (2, 'Screwdriver Set', 2, 19.99, 0.45, 0, 'SD-10'),
  (3, 'Drill', 1, 89.00, 1.9, 0, 'DR-7'),
  (4, 'Rake', 3, 15.75, 1.2, 1, null),
  (5, 'Tomato Seeds', 4, 2.40, 0.02, 0, 'TS-1'),
  (6, 'Garden Hose', 3, 24.00, null, 0, 'GH-25'),
  (7, 'Mystery Box', null, 5.00, 0.5, 1, 'MB'),
  (8, 'Ladder', 1, 120.00, 7.5, 0, 'LD-3');
insert into orders values
  (1, 1, '2024-01-05', '2024-01-06 14:30:00', 'shipped', 'rush'),
  (2, 1, '2024-01-20', '2024-01-23 09:15:00', 'shipped', null),
  (3, 2, '2024-02-03', null, 'open', 'call first'),
  (4, 4, '2024-02-14', '2024-02-15 08:00:00', 'shipped', null),
  (5, 5, '2024-02-29', '2024-03-04 17:45:30', 'Shipped', 'leap day'),
  (6, 7, '2024-03-10', null, 'cancelled', null),
  (7, 8, '2024-03-18', '2024-03-19 12:00:00', 'shipped', 'gift wrap'),
  (8, 2, '2024-04-02', '2024-04-05 10:20:00', 'shipped', null),
  (9, 3, '2023-12-28', '2024-01-02 16:00:00', 'shipped', 'year end'),
  (10, 7, '2024-04-15', null, 'open', null);
insert into order_line values
  (1, 1, 1, 2, 12.50, 0), (1, 2, 3, 1, 89.00, 0.1), (2, 1, 2, 3, 19.99, 0),
  (3, 1, 5, 10, 2.40, 0), (3, 2, 6, 1, 24.00, 0.05), (4, 1, 8, 1, 120.00, 0),
  (5, 1, 4, 2, 15.75, 0), (5, 2, 5, 25, 2.40, 0.2), (5, 3, 1, 1, 12.50, 0),
  (6, 1, 7, 4, 5.00, 0), (7, 1, 3, 2, 89.00, 0.15), (8, 1, 2, 1, 19.99, 0),
  (8, 2, 6, 3, 24.00, 0), (9, 1, 8, 2, 120.00, 0.1), (9, 2, 1, 5, 12.50, 0), (10, 1, 5, 7, 2.40, 0);

-- joins
create view j_inner as select o.id, c.name, o.ordered from orders o inner join customer c on c.id = o.customer_id;
create view j_left as select r.name as region, c.name as customer from region r left join customer c on c.region_id = r.id;
create view j_five as select o.id as order_id, c.name as customer, r.name as region, p.name as product, k.name as category, l.qty
  from orders o join customer c on c.id = o.customer_id join region r on r.id = c.region_id
  join order_line l on l.order_id = o.id join product p on p.id = l.product_id
  join category k on k.id = p.category_id;
create view j_left_chain as select p.name, k.name as category, parent.name as parent
  from product p left join category k on k.id = p.category_id left join category parent on parent.id = k.parent_id;
create view j_cross as select r.name as region, k.name as category from region r cross join category k where k.parent_id is null;
create view j_self as select k.name, parent.name as parent from category k join category parent on parent.id = k.parent_id;
-- filters
create view w_and_or as select id, name from product where (price > 10 and price < 100) or discontinued = 1;
create view w_not_in as select id, name from customer where city not in ('Oslo', 'Lyon') and not active = 0;
create view w_between as select order_id, line, qty from order_line where qty between 2 and 5;
create view w_like as select id, name from customer where name like '%o%' or name like '_right%';
create view w_like_code as select name, code from product where code like '__-_';
create view w_is_null as select id, name, city from customer where city is null or rating is null or joined is null;
create view w_not_null as select id from orders where shipped is not null and note is not null;
create view w_dates as select id, ordered from orders where ordered between '2024-02-01' and '2024-02-29';
create view w_date_after as select id from orders where ordered >= '2024-03-01';
-- grouping
create view g_counts as select customer_id, count(*) as n, count(note) as notes, min(ordered) as first, max(ordered) as last
  from orders group by customer_id;
create view g_having as select product_id, sum(qty) as units, avg(qty) as mean from order_line
  group by product_id having sum(qty) > 3;
create view g_total as select k.name, total(p.weight) as weight from category k left join product p on p.category_id = k.id
  group by k.name;
create view g_money as select order_id, sum(qty * unit_price) as gross, max(unit_price) as top_price
  from order_line group by order_id;
create view g_distinct_count as select count(distinct customer_id) as customers from orders where ordered >= '2024-01-01';
create view diff_case_compare as select id from orders where status = 'shipped';
create view g_distinct_group as select r.name, count(distinct c.city) as cities
  from region r left join customer c on c.region_id = r.id group by r.name;
create view d_distinct as select distinct city from customer where city is not null;
create view d_status as select distinct status, customer_id from orders where customer_id < 5;
-- TOP
create view t_limit as select id, name, price from product order by price desc limit 3;
create view t_limit_asc as select id, ordered from orders order by ordered, id limit 4;
create view diff_top_ties as select qty from order_line order by qty limit 2;
create view diff_bool_order as select name from product where price < 20 order by discontinued, id limit 2;
-- unions
create view u_union as select 'customer' as kind, name from customer where region_id = 1
  union select 'region', name from region where manager is not null;
create view u_union_all as select city from customer where active = 1 union all select name from region;
-- subqueries
create view s_in as select id, name from product where id in (select product_id from order_line where qty >= 5);
create view s_exists as select id, name from customer c where exists (select 1 from orders o where o.customer_id = c.id and o.status = 'open');
create view s_not_exists as select id, name from customer c where not exists (select * from orders o where o.customer_id = c.id);
create view s_scalar as select c.id, (select count(*) from orders o where o.customer_id = c.id) as orders,
  (select max(o.ordered) from orders o where o.customer_id = c.id) as latest from customer c;
create view s_above_avg as select name, price from product where price > (select avg(price) from product);
create view s_derived as select t.customer_id, t.n from (select customer_id, count(*) as n from orders group by customer_id) t
  where t.n > 1;
-- views over views
create view vv_busy as select customer, count(*) as lines from j_five group by customer;
create view vv_join as select b.customer, b.lines, c.city from vv_busy b join customer c on c.name = b.customer;
-- expressions
create view e_concat as select name || ' (' || city || ')' as label, name || '#' || id as tag from customer;
create view e_case as select id,
  case status when 'open' then 'waiting' when 'cancelled' then 'stopped' else 'other' end as simple,
  case when shipped is null then 'no' when julianday(shipped) - julianday(ordered) > 2 then 'slow' else 'fast' end as speed
  from orders;
create view e_nulls as select id, coalesce(city, manager_or_none, '?') as place from (select c.id, c.city, r.manager as manager_or_none
  from customer c left join region r on r.id = c.region_id) x;
create view e_ifnull as select c.id, ifnull(rating, 0) as rating, nullif(city, 'Oslo') as city, ifnull(note, 'none') as note
  from customer c left join orders o on o.customer_id = c.id and o.id = c.id;
create view e_cast as select id, cast(rating as integer) as whole, cast(qty_text as integer) as parsed, cast(id as real) / 4 as quarter,
  cast(id as text) || 'x' as label from (select id, rating, '1' || id as qty_text from customer) y;
create view e_text as select id, substr(name, 2, 3) as mid, length(name) as len, upper(name) as up, lower(name) as low,
  trim('  ' || name || ' ') as trimmed, replace(name, 'o', '0') as replaced, instr(name, 'o') as at from customer;
create view e_math as select order_id, line, abs(qty - 5) as distance, round(discount * 100, 1) as pct,
  qty / 2 as halves, qty % 3 as rest, qty * 1.5 as scaled, -qty as negative from order_line;
create view e_money as select order_id, line, round(qty * unit_price * (1 - discount), 2) as net from order_line;
create view e_dates as select id, strftime('%Y-%m', ordered) as month, strftime('%d/%m/%Y', ordered) as day,
  date(ordered, '+7 days') as week_later, date(ordered, 'start of month') as month_start,
  date(ordered, 'start of month', '+1 months', '-1 days') as month_end, time(shipped) as at from orders;
create view e_days as select id, julianday(shipped) - julianday(ordered) as days, datetime(shipped, '-30 minutes') as before
  from orders where shipped is not null;
create view e_bool as select id, active, case when active then 'yes' else 'no' end as said from customer;
create view e_joined_year as select strftime('%Y', joined) as year, count(*) as n from customer where joined is not null
  group by strftime('%Y', joined);

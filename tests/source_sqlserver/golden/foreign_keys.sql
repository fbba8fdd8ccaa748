select OBJECT_NAME(f.constid), OBJECT_NAME(f.fkeyid), f.name, OBJECT_NAME(f.rkeyid), r.name
from (select k.constid, k.fkeyid, k.rkeyid, k.keyno, col.name from sysforeignkeys k
  join syscolumns col on k.fkeyid=col.id and k.fkey=col.colid
  where k.constid in (select id from sysobjects where xtype='F' and parent_obj=object_id(N'[Sales].[Order]]Lines]'))) f
join (select k.constid, k.keyno, col.name from sysforeignkeys k
  join syscolumns col on k.rkeyid=col.id and k.rkey=col.colid
  where k.constid in (select id from sysobjects where xtype='F' and parent_obj=object_id(N'[Sales].[Order]]Lines]'))) r
on f.constid=r.constid and f.keyno=r.keyno
order by OBJECT_NAME(f.constid), f.keyno
select c.name, t.type_id, type_name(t.type_id) type_name, type_name(c.user_type_id) declared_type,
 c.max_length, c.precision, c.scale, c.is_nullable, c.is_identity,
 convert(varchar(40), i.seed_value) seed, convert(varchar(40), i.increment_value) increment,
 case when c.default_object_id=0 then 0 else 1 end has_default, d.definition, c.collation_name
from sys.all_columns c
 cross apply (select case when c.user_type_id>256 then c.system_type_id else c.user_type_id end) t(type_id)
 left join sys.identity_columns i on i.object_id=c.object_id and i.column_id=c.column_id
 left join sys.default_constraints d on d.object_id=c.default_object_id
where c.object_id=object_id(N'[Sales].[Order]]Lines]')
order by c.column_id
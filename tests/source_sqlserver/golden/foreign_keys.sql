select fk.name, pc.name, object_schema_name(fk.referenced_object_id), object_name(fk.referenced_object_id), rc.name,
  fk.delete_referential_action, fk.update_referential_action, fk.is_disabled, fk.is_not_trusted
from sys.foreign_keys fk
join sys.foreign_key_columns fkc on fkc.constraint_object_id = fk.object_id
join sys.columns pc on pc.object_id = fkc.parent_object_id and pc.column_id = fkc.parent_column_id
join sys.columns rc on rc.object_id = fkc.referenced_object_id and rc.column_id = fkc.referenced_column_id
where fk.parent_object_id = object_id(N'[Sales].[Order]]Lines]')
order by fk.name, fkc.constraint_column_id
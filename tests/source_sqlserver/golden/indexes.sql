select i.name, i.index_id, i.type, i.type_desc, i.is_unique, i.is_primary_key, i.has_filter, i.is_disabled, c.name, ic.key_ordinal, ic.is_descending_key, ic.is_included_column,
  (select count(*) from sys.foreign_keys f where f.parent_object_id = i.object_id) +
  (select count(*) from sys.foreign_keys f where f.referenced_object_id = i.object_id)
from sys.indexes i
left join sys.index_columns ic on ic.object_id = i.object_id and ic.index_id = i.index_id
left join sys.columns c on c.object_id = ic.object_id and c.column_id = ic.column_id
where i.object_id = object_id(N'[Order]') and i.type > 0 and i.is_hypothetical = 0
order by i.index_id, ic.is_included_column, ic.key_ordinal, ic.index_column_id
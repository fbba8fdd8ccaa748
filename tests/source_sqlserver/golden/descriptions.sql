select c.name, cast(ep.value as nvarchar(4000)) from sys.extended_properties ep
left join sys.columns c on c.object_id = ep.major_id and c.column_id = ep.minor_id
where ep.class = 1 and ep.name = N'MS_Description' and ep.major_id = object_id(N'[Sales].[Order]]Lines]')
order by ep.minor_id
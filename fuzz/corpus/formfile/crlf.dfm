object M: TForm
  object T: TTAVTable
    TableName = #0#255x
    SQL.Strings = ()
  end
end

object Module1: TDataModule
  object Q1: TTAVQuery
    DatabaseName = 'data.db'
    SQL.Strings = (
      'SELECT *'
      'FROM t WHERE n = ''it''''s''')
    Active = False
    ControlVar01.Strings = (
      'Active'
      'Power'
      'A'
      'Datafield2'
      '0.5'
      '10')
    ControlVar02.Strings = (
      'Active'
      'Quotient'
      'A'
      'B'
      '1.00'
      '10')
    Description = 'Two lines'#10#13'of text' +
      ' and more'
    ShowLoadProgress = False
    ShowWarnings = True
    ResponseVarY.Strings = (
      'Undefined'
      'Scale'
      'Y'
      'Undefined'
      'Undefined'
      '100')
    ReportMessage = ''
    FitMethod = QR
    QueryTimeout = 30
  end
end

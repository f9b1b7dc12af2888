object SalesModule: TDataModule
  object SalesTable: TTAVTable
    DatabaseName = 'sales.db'
    TableName = 'sales'
    Active = True
    ControlVar01.Strings = (
      'Active'
      'Log'
      'ADVERT'
      'Datafield2'
      '1.00'
      '10')
    ControlVar02.Strings = (
      'Active'
      'None'
      'STORES'
      'Datafield2'
      '1.00'
      '10')
    ControlVar03.Strings = (
      'Active'
      'Product'
      'PRICE'
      'UNITS'
      '1.00'
      '10')
    ControlVar04.Strings = (
      'Active'
      'Inverse'
      'COMPETITORS'
      'Datafield2'
      '1.00'
      '10')
    ControlVar05.Strings = (
      'Active'
      'Sqrt'
      'INCOME'
      'Datafield2'
      '1.00'
      '10')
    Description = 'Profit by store'
    ShowLoadProgress = False
    ShowWarnings = True
    ResponseVarY.Strings = (
      'Undefined'
      'None'
      'PROFIT'
      'Undefined'
      'Undefined'
      '1')
    ReportMessage = 'Sample data: 300 store records, profit in dollars'
  end
  object UnitsQuery: TTAVQuery
    DatabaseName = 'sales.db'
    SQL.Strings = (
      'SELECT * FROM sales'
      'WHERE REGION IS NOT NULL')
    Active = True
    ControlVar01.Strings = (
      'Active'
      'Log'
      'ADVERT'
      'Datafield2'
      '1.00'
      '10')
    ControlVar02.Strings = (
      'Active'
      'None'
      'PRICE'
      'Datafield2'
      '1.00'
      '10')
    ControlVar03.Strings = (
      'Active'
      'Quotient'
      'INCOME'
      'STORES'
      '1.00'
      '10')
    ControlVar04.Strings = (
      'Active'
      'Power'
      'TEMP'
      'Datafield2'
      '2'
      '10')
    ControlVar05.Strings = (
      'Active'
      'Scale'
      'STORES'
      'Datafield2'
      '1.00'
      '100')
    Description = 'Units sold, regions known'
    ShowLoadProgress = False
    ShowWarnings = True
    ResponseVarY.Strings = (
      'Undefined'
      'Log'
      'UNITS'
      'Undefined'
      'Undefined'
      '1')
    ReportMessage = ''
  end
end

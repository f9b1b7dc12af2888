object M: TDataModule
end

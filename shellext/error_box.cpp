// ShowErrorMessage: the one report of a failure that the user sees.

library(testthat)
library(xylotrak)

test_check("xylotrak")

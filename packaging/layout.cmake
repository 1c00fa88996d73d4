# Build-tree places shared by packaging/ and tests/packaging/.
set(VELRPT_MANUAL_PDF ${PROJECT_BINARY_DIR}/doc/UsrManEn.pdf)
set(VELRPT_ICON_SIZES 16 24 32 48 64 128 256)

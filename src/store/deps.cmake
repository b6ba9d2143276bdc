target_link_libraries(store PUBLIC crypt32 ole32 templates crypto_portable)
# Backup and restore take the quick links and categories whole.
target_link_libraries(store PUBLIC quicklinks oleaut32)

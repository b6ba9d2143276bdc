target_link_libraries(store PUBLIC crypt32 ole32 templates crypto_portable)

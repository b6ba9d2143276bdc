# CryptoAPI, data protection and DER (crypt32); providers, hashing and the
# registry (advapi32); COM task memory (ole32).
target_link_libraries(crypto PUBLIC crypt32 advapi32 ole32)

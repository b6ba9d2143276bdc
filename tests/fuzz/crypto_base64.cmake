cv_fuzz_target(NAME fuzz_crypto_base64 SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_crypto_base64.cpp
               LIBS crypto_portable CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/crypto_base64 SECONDS 20)

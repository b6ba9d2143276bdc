cv_fuzz_target(NAME fuzz_crypto_cipher SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_crypto_cipher.cpp
               LIBS crypto_portable CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/crypto_cipher SECONDS 20)

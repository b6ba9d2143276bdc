cv_fuzz_target(NAME fuzz_crypto_der SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_crypto_der.cpp
               LIBS crypto_portable CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/crypto_der SECONDS 20)

# The template storage folders: path texts and list rules (natively and under
# Wine), and the folders themselves under Wine, where the tests make drive
# letters of every type (hence the lock: the letters belong to the whole prefix).
cv_test(NAME templates_folders_portable_tests SOURCES folders_portable_test.cpp
        LIBS templates_portable)
cv_test(NAME templates_folders_tests TRACED SOURCES folders_test.cpp LIBS templates
        LOCKS wine-drives)

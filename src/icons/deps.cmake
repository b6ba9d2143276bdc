# WinHTTP for the fetches, MLang through COM for page texts, Crypt32's Base64
# (crypto), the branding library's product name as user agent (plugin_core),
# the shell's known folders.
target_link_libraries(icons PUBLIC winhttp ole32 oleaut32 uuid shell32 crypto plugin_core)

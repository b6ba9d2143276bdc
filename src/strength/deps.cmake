# Templates, profiles and the components behind them (store), the obfuscated
# password form (crypto), the settings and the ID-card component (plug-in frame, COM).
target_link_libraries(strength PUBLIC store crypto templates plugin_core ole32 oleaut32 advapi32)

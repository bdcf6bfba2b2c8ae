# The application icon as PNG pictures, rendered from data/vokey.svg at build time by
# rsvg-convert (Debian's librsvg2-bin). Qt draws an SVG icon only through its SVG plugin, which
# a plain Qt installation does not have: without it the window, the tray and the About box
# show nothing. The pictures are resources of the target, under :/vokey/icons/<size>/vokey.png,
# and are installed beside the scalable icon in the hicolor theme.
set(VOKEY_ICON_SIZES 16 22 24 32 48 64 128 256)

function(vokey_application_icons target)
    find_program(RSVG_CONVERT rsvg-convert REQUIRED)
    set(svg ${CMAKE_SOURCE_DIR}/data/vokey.svg)
    set(base ${CMAKE_CURRENT_BINARY_DIR}/icons)
    set(pictures "")
    foreach(size ${VOKEY_ICON_SIZES})
        set(png ${base}/${size}/vokey.png)
        add_custom_command(OUTPUT ${png}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${base}/${size}
            COMMAND ${RSVG_CONVERT} --width ${size} --height ${size} --output ${png} ${svg}
            DEPENDS ${svg}
            COMMENT "Rendering the ${size} px icon"
            VERBATIM)
        list(APPEND pictures ${png})
        install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
    endforeach()
    qt_add_resources(${target} vokey_icons PREFIX /vokey/icons BASE ${base} FILES ${pictures})
    install(FILES ${svg} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endfunction()

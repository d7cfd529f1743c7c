# pulsewick_install_gzipped(FILE DESTINATION COMPONENT): installs FILE (built or configured into
# the build tree) compressed as Debian wants manual pages and changelogs: gzip -9n, so the bytes
# carry neither the file's name nor a time stamp.
function(pulsewick_install_gzipped file destination component)
    get_filename_component(name ${file} NAME)
    set(compressed ${CMAKE_CURRENT_BINARY_DIR}/${name}.gz)
    if(NOT TARGET pulsewick_gzip_${name})
        add_custom_command(OUTPUT ${compressed} COMMAND gzip -9n -c ${file} > ${compressed} DEPENDS ${file}
                           COMMENT "Compressing ${name}")
        add_custom_target(pulsewick_gzip_${name} ALL DEPENDS ${compressed})
    endif()
    install(FILES ${compressed} DESTINATION ${destination} COMPONENT ${component})
endfunction()

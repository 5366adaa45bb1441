# The installed layout, the same under any prefix: the programs in bin/, the
# unit's archives, the shipped scenarios, .ssp files, sweeps and batteries in
# share/kestrune/, where kestrune-sim, kestrune-sweep and kestrune-battery look
# for them relative to themselves, the Slurm batch script in
# share/kestrune/cluster/, and the documentation in share/doc/kestrune/.
include(GNUInstallDirs)
install(TARGETS kestrune-sim kestrune-sweep kestrune-battery kestrune-record RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The archives, one line each.
install(FILES ${KESTRUNE_FMU_PATH} DESTINATION ${KESTRUNE_INSTALL_DATADIR})
install(FILES ${KESTRUNE_FMU3_PATH} DESTINATION ${KESTRUNE_INSTALL_DATADIR})
install(FILES ${KESTRUNE_FMU3_SCHEDULED_PATH} DESTINATION ${KESTRUNE_INSTALL_DATADIR})
install(FILES ${KESTRUNE_PLANT_FMU_PATH} DESTINATION ${KESTRUNE_INSTALL_DATADIR})

# The closed loops of shipped scenarios as .ssp files, built by kestrune-sim.
install(FILES ${KESTRUNE_SHIPPED_SSP} DESTINATION ${KESTRUNE_INSTALL_DATADIR}/ssp)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/scenarios/ DESTINATION ${KESTRUNE_INSTALL_DATADIR}/scenarios
        FILES_MATCHING PATTERN "*.json")
install(DIRECTORY ${PROJECT_SOURCE_DIR}/sweeps/ DESTINATION ${KESTRUNE_INSTALL_DATADIR}/sweeps
        FILES_MATCHING PATTERN "*.json")
install(DIRECTORY ${PROJECT_SOURCE_DIR}/batteries/ DESTINATION ${KESTRUNE_INSTALL_DATADIR}/batteries
        FILES_MATCHING PATTERN "*.json")
# The batch script that runs a sweep under Slurm.
install(PROGRAMS ${PROJECT_SOURCE_DIR}/cluster/sweep.sbatch DESTINATION ${KESTRUNE_INSTALL_DATADIR}/cluster)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/kestrune)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/kestrune/docs)

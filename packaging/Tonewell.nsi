; The installer of Corvane Tonewell: copies the module, tonewell-render and their texts to
; Program Files, registers the module through its own DllRegisterServer (regsvr32) and adds
; an uninstaller with its entry among the installed programs. /S installs silently, /D=DIR
; (last on the line) picks the folder.
; makensis -DVERSION=a.b.c.d -DFILES=<folder of the release files> -DOUTFILE=<setup.exe>
Unicode true
; The module is 64-bit only, and so is the installer: it loads nothing 32-bit and sees the
; 64-bit registry and Program Files without redirection.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestSupportedOS all

!include MUI2.nsh
!include LogicLib.nsh

!define PRODUCT "Corvane Tonewell"
; One key for every version, so that a newer installer finds the install it replaces.
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Corvane Tonewell"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "Corvane"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (c) 2026 Corvane"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} ${VERSION} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"

!define MUI_FINISHPAGE_TEXT "${PRODUCT} is installed and registered: programs that record from audio capture sources now list $\"${PRODUCT}$\".$\r$\n$\r$\ntonewell-render.exe in the installation folder renders its tones to WAV files; README.txt there explains it."
!insertmacro MUI_PAGE_LICENSE "${FILES}/LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; What the installer puts into the folder; the uninstaller removes these and nothing else.
!macro TW_DELETE_FILES DIR
    Delete "${DIR}\Tonewell.dll"
    Delete "${DIR}\tonewell-render.exe"
    Delete "${DIR}\README.txt"
    Delete "${DIR}\LICENSE.txt"
!macroend

Section "Install"
    ; An earlier install goes first, through its own uninstaller, wherever it is: otherwise
    ; its files and entry would stay behind when this one goes to another folder. _?= runs
    ; the uninstaller in place so that it is done when ExecWait returns.
    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $0 != ""
    ${AndIf} ${FileExists} "$0\uninstall.exe"
        DetailPrint "Removing the installed version in $0"
        ExecWait '"$0\uninstall.exe" /S _?=$0' $1
        ${If} $1 != 0
            MessageBox MB_ICONSTOP "The installed version in $0 could not be removed (its uninstaller ended with $1)." /SD IDOK
            Abort
        ${EndIf}
        Delete "$0\uninstall.exe"
        RMDir "$0"
    ${EndIf}

    SetOutPath "$INSTDIR"
    File "${FILES}/Tonewell.dll"
    File "${FILES}/tonewell-render.exe"
    File "${FILES}/README.txt"
    File "${FILES}/LICENSE.txt"

    DetailPrint "Registering $INSTDIR\Tonewell.dll"
    ExecWait '"$SYSDIR\regsvr32.exe" /s "$INSTDIR\Tonewell.dll"' $0
    ${If} $0 != 0
        ; Nothing stays of an install that does not work.
        ExecWait '"$SYSDIR\regsvr32.exe" /u /s "$INSTDIR\Tonewell.dll"'
        !insertmacro TW_DELETE_FILES "$INSTDIR"
        SetOutPath "$TEMP"
        RMDir "$INSTDIR"
        MessageBox MB_ICONSTOP "Registering $INSTDIR\Tonewell.dll failed (regsvr32 ended with $0). Installing needs an administrator." /SD IDOK
        Abort
    ${EndIf}

    WriteUninstaller "$INSTDIR\uninstall.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Corvane"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\uninstall.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    SectionGetSize 0 $0
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Uninstall"
    ; The registration goes first: a class key must never name a file that is gone. A
    ; failing unregistration keeps everything, so that it can be tried again.
    ${If} ${FileExists} "$INSTDIR\Tonewell.dll"
        DetailPrint "Unregistering $INSTDIR\Tonewell.dll"
        ExecWait '"$SYSDIR\regsvr32.exe" /u /s "$INSTDIR\Tonewell.dll"' $0
        ${If} $0 != 0
            MessageBox MB_ICONSTOP "Unregistering $INSTDIR\Tonewell.dll failed (regsvr32 ended with $0). Uninstalling needs an administrator." /SD IDOK
            Abort
        ${EndIf}
    ${EndIf}

    !insertmacro TW_DELETE_FILES "$INSTDIR"
    Delete "$INSTDIR\uninstall.exe"
    ; Only when empty: files of the user's own stay, and so does their folder.
    RMDir "$INSTDIR"

    ; The entry is this install's only while it names this folder; another install keeps it.
    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $0 == "$INSTDIR"
        DeleteRegKey HKLM "${UNINSTALL_KEY}"
    ${EndIf}
SectionEnd

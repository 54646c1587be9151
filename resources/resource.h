// Every identifier of the Kaleos resources: commands, strings, controls,
// bitmaps. Included by kaleos.rc, by the Win32 layer and by app/logic (it holds
// nothing but #defines, so plain C++ may include it).
#ifndef KALEOS_RESOURCE_H
#define KALEOS_RESOURCE_H

// ---- Icons and bitmaps ----------------------------------------------------
#define IDI_KALEOS 1000           // program icon
#define IDB_TOOLBAR_TRUE 4000     // tool bar images for displays above 8 bits per pixel
#define IDB_TOOLBAR_256 4001      // the same for displays of 256 colours or fewer
// The bitmap "ConfigIcon" (two 16x16 check images) is named, not numbered.

// ---- Commands: file (1-30) ------------------------------------------------
#define CMD_OPEN 1
#define CMD_OPEN_ALL 2
#define CMD_VIEW_HEX 3
#define CMD_BROWSE 4
#define CMD_REOPEN 5
#define CMD_SAVE 6
#define CMD_SAVE_AS 7
#define CMD_CLOSE 8
#define CMD_CLOSE_ALL 9
#define CMD_DESCRIBE 10
#define CMD_PRINT 11
#define CMD_IMPORT_CLIPBOARD 12
#define CMD_CAPTURE 13
#define CMD_CONVERT_SEQUENCE 14
#define CMD_CONVERT_MULTIPLE 15
#define CMD_SLIDE_SHOW 16
#define CMD_ESCAPE 17
#define CMD_QUIT 18
#define CMD_UNDO 20
#define CMD_CROP 21
#define CMD_NEXT_FILE 22
#define CMD_PREV_FILE 23
#define CMD_FIRST_FILE 24
#define CMD_LAST_FILE 25
#define CMD_NEXT_PAGE 26
#define CMD_PREV_PAGE 27
#define CMD_FIRST_PAGE 28
#define CMD_LAST_PAGE 29
#define CMD_EXTRACT_PAGES 30

// ---- Commands: image operations (50-138) -----------------------------------
#define CMD_COUNT_COLOURS 50
#define CMD_REDUCE_FIRST 51       // colour reduction: code = id - 50
#define CMD_REDUCE_LAST 82
#define CMD_BRIGHTNESS 83
#define CMD_CONTRAST 84
#define CMD_GAMMA 85
#define CMD_BALANCE 86
#define CMD_NEGATE 87
#define CMD_LOG_LUT 88
#define CMD_NORMALIZE 89
#define CMD_EQUALIZE 90
#define CMD_SOLARIZE 91
#define CMD_POSTERIZE 92
#define CMD_FLIP_VERTICAL 93
#define CMD_FLIP_HORIZONTAL 94
#define CMD_ROTATE_RIGHT 95
#define CMD_ROTATE_LEFT 96
#define CMD_ROTATE_FREE 97
#define CMD_RESIZE 98
#define CMD_CANVAS 99
#define CMD_SWAP_RBG 100
#define CMD_SWAP_BGR 101
#define CMD_SWAP_BRG 102
#define CMD_SWAP_GRB 103
#define CMD_SWAP_GBR 104
#define CMD_AVERAGE 105
#define CMD_BLUR 106
#define CMD_GAUSSIAN_BLUR 107
#define CMD_SOFTEN 108
#define CMD_ENHANCE_DETAIL 109
#define CMD_ENHANCE_EDGES 110
#define CMD_ENHANCE_FOCUS 111
#define CMD_RESTORE_FOCUS 112
#define CMD_SHARPEN 113
#define CMD_EDGE_FIRST 114        // 114-116 edge detections
#define CMD_EMBOSS 117
#define CMD_EMBOSS_MORE 118
#define CMD_REDUCE_NOISE 119
#define CMD_NOISE_UNIFORM 120
#define CMD_NOISE_GAUSSIAN 121
#define CMD_NOISE_LAPLACIAN 122
#define CMD_NOISE_POISSON 123
#define CMD_MAXIMUM 124
#define CMD_MINIMUM 125
#define CMD_MEDIAN_BOX 126
#define CMD_MEDIAN_CROSS 127
#define CMD_DEINTERLACE 128
#define CMD_USER_FILTER 129
#define CMD_SLICE 130
#define CMD_SHEAR 131
#define CMD_SPREAD 132
#define CMD_SPIRAL 133
#define CMD_CHECKERBOARD 134
#define CMD_MOSAIC 135
#define CMD_OIL 136
#define CMD_LENS 137
#define CMD_WAVES 138

// ---- Commands: display (140-180) ------------------------------------------
#define CMD_FULL_SCREEN 140
#define CMD_FIT_WINDOW_TO_IMAGE 141
#define CMD_FIT_TO_WINDOW 142
#define CMD_ZOOM_IN 143
#define CMD_ZOOM_OUT 144
#define CMD_ZOOM_FIRST 145        // 16:1
#define CMD_ZOOM_LAST 153         // 1:16
#define CMD_WALLPAPER_CENTRE 164
#define CMD_WALLPAPER_TILE 165
#define CMD_WALLPAPER_PREVIOUS 180

// ---- Commands: frame (181-193) --------------------------------------------
#define CMD_STATUS_BAR 181
#define CMD_TOOL_BAR 182
#define CMD_OPTIONS 183
#define CMD_INSTALL 185
#define CMD_CASCADE 186
#define CMD_TILE 187
#define CMD_ARRANGE 188
#define CMD_MINIMIZE_ALL 189
#define CMD_RESTORE_ALL 190
#define CMD_ABOUT 191
#define CMD_FORMATS 192
#define CMD_COMMAND_LINE_HELP 193

// ---- Commands: browser (200-255) ------------------------------------------
#define CMD_SELECT_ALL 200
#define CMD_BROWSER_OPEN 201
#define CMD_BROWSER_OPEN_ALL 202
#define CMD_BROWSER_HEX 203
#define CMD_BROWSER_PROPERTIES 204
#define CMD_VIEW_ICONS 205
#define CMD_VIEW_SMALL_ICONS 206
#define CMD_VIEW_LIST 207
#define CMD_VIEW_DETAILS 208
#define CMD_ARRANGE_FIRST 209     // 209-213 sort keys, 214 normal, 215 reverse
#define CMD_ARRANGE_NORMAL 214
#define CMD_ARRANGE_REVERSE 215
#define CMD_COLUMN_FIRST 216      // 216-220 detail columns
#define CMD_COLUMN_LAST 220
#define CMD_BROWSER_CONVERT 221
#define CMD_BROWSER_SLIDE_SHOW 222
#define CMD_WEB_PAGE 223
#define CMD_COPY_NAMES 224
#define CMD_FILE_LISTING 225
#define CMD_COPY_TO 226
#define CMD_MOVE_TO 227
#define CMD_RENAME_SEQUENCE 228
#define CMD_DELETE 229
#define CMD_SHOW_DIR_LIST 230
#define CMD_SHOW_DIRS 231
#define CMD_SHOW_PARENT_DIR 232
#define CMD_HIDE_NON_IMAGES 233
#define CMD_SHOW_HIDDEN 234
#define CMD_SHOW_PREVIEW 235
#define CMD_FIT_PREVIEW 236
#define CMD_SHOW_CONTENT 237
#define CMD_SHOW_IN_ASCII 238
#define CMD_QUICK_REFRESH 239
#define CMD_REFRESH 240
#define CMD_STOP_THUMBNAILS 241
#define CMD_THUMB_SIZE_FIRST 242  // 242-250 thumbnail sizes
#define CMD_THUMB_SIZE_LAST 250
#define CMD_LAYOUT_FIRST 251      // 251-255 pane layouts
#define CMD_LAYOUT_LAST 255

// ---- Commands: recent files (280-288) -------------------------------------
#define CMD_RECENT_FIRST 280
#define CMD_RECENT_LAST 288

// ---- Tool bar separators ----------------------------------------------------
#define TB_SEP_FIRST 1000
#define TB_SEP_LAST 1005

// ---- Control identifiers of the frame --------------------------------------
#define IDC_STATUS_BAR 2000
#define IDC_TOOL_BAR 2001
#define IDC_FIRST_CHILD 300       // MDI children are numbered from here

// ---- Strings (4000-5002) ---------------------------------------------------
// Tool tips of the tool bar are the strings whose identifier is the command's.
#define IDS_LANGUAGE 4000          // "Fr", appended to the frame title
#define IDS_ALL_FILES 4010
#define IDS_ALL_PICTURES 4011
#define IDS_SAVE_PICTURE 4014
#define IDS_OPEN_PICTURES 4016
#define IDS_OVERWRITE 4017
#define IDS_PROBLEM 4018
#define IDS_ERR_NO_MEMORY 4020
#define IDS_ERR_JPEG 4021
#define IDS_ERR_CANNOT_OPEN 4022
#define IDS_ERR_CANNOT_WRITE 4023
#define IDS_ERR_READ 4024
#define IDS_ERR_UNKNOWN_FORMAT 4025
#define IDS_ERR_BAD_FILE 4026
#define IDS_ERR_OTHER 4027
#define IDS_ERR_CORRUPT 4028
#define IDS_LOADING 4040
#define IDS_SAVING 4041
#define IDS_CONVERTING 4042
#define IDS_RESIZE_TO 4043
#define IDS_SAVE_CHANGES 4047
#define IDS_YES 4048
#define IDS_NO 4049
#define IDS_COL_NAME 4050
#define IDS_COL_READ 4051
#define IDS_COL_WRITE 4052
#define IDS_COL_EXTENSION 4053
#define IDS_OPT_WRITING 4060       // option categories
#define IDS_OPT_READING 4061
#define IDS_OPT_MISC 4062
#define IDS_OPT_BROWSER 4063
#define IDS_VALUE_FIRST 4200       // titles of the value dialogs (4200-4225)
#define IDS_REDUCTION_NONE 4300    // conversion codes 4300 + code
#define IDS_RESIZE_NEAREST 5000
#define IDS_RESIZE_BILINEAR 5001
#define IDS_RESIZE_PRESET 5002

// ---- Options dialog "KaleoOption" -----------------------------------------
#define IDC_OPT_WRITE_FIRST 2000
#define IDC_OPT_GIF_INTERLACED 2001
#define IDC_OPT_JPEG_PROGRESSIVE 2002
#define IDC_OPT_IFF_COMPRESS 2003
#define IDC_OPT_PCX_COMPRESS 2004
#define IDC_OPT_TGA_COMPRESS 2005
#define IDC_OPT_SOFT_COMPRESS 2006
#define IDC_OPT_RGB_COMPRESS 2007
#define IDC_OPT_BMP_COMPRESS 2008
#define IDC_OPT_TIFF_LABEL 2009
#define IDC_OPT_TIFF 2010
#define IDC_OPT_JPEG_LABEL 2011
#define IDC_OPT_JPEG_QUALITY 2012
#define IDC_OPT_JPEG_SPIN 2013
#define IDC_OPT_PNG_LABEL 2014
#define IDC_OPT_PNG_QUALITY 2015
#define IDC_OPT_PNG_SPIN 2016
#define IDC_OPT_WRITE_LAST 2016
#define IDC_OPT_READ_FIRST 2017
#define IDC_OPT_PCD_LABEL 2018
#define IDC_OPT_PCD 2019
#define IDC_OPT_GROB_LABEL 2020
#define IDC_OPT_GROB 2021
#define IDC_OPT_IGNORE_ERRORS 2022
#define IDC_OPT_RAW_WIDTH_LABEL 2023
#define IDC_OPT_RAW_WIDTH 2024
#define IDC_OPT_RAW_HEIGHT_LABEL 2025
#define IDC_OPT_RAW_HEIGHT 2026
#define IDC_OPT_RAW_OFFSET_LABEL 2027
#define IDC_OPT_RAW_OFFSET 2028
#define IDC_OPT_RAW_ORDER_LABEL 2029
#define IDC_OPT_RAW_ORDER 2030
#define IDC_OPT_RAW_TYPE_LABEL 2031
#define IDC_OPT_RAW_TYPE 2032
#define IDC_OPT_READ_LAST 2032
#define IDC_OPT_MISC_FIRST 2033
#define IDC_OPT_SAVE_POSITION 2034
#define IDC_OPT_MAXIMIZE_KALEOS 2035
#define IDC_OPT_MAXIMIZE_VIEWS 2036
#define IDC_OPT_HEXA_IF_NOT_PICTURE 2037
#define IDC_OPT_FULL_SCREEN_GROUP 2038
#define IDC_OPT_SHOW_FILENAME 2039
#define IDC_OPT_MOUSE_NAVIGATION 2040
#define IDC_OPT_HIDE_MOUSE 2041
#define IDC_OPT_ALWAYS_ON_TOP 2042
#define IDC_OPT_ONLY_ONE_INSTANCE 2043
#define IDC_OPT_MISC_LAST 2043
#define IDC_OPT_BROWSER_FIRST 2044
#define IDC_OPT_BROWSER_AT_STARTUP 2045
#define IDC_OPT_START_IN_PREV_DIR 2046
#define IDC_OPT_RECOGNIZE_BY_EXT 2047
#define IDC_OPT_GRID_LINES 2048
#define IDC_OPT_FULL_ROW_SELECT 2049
#define IDC_OPT_FIT_GROUP 2050
#define IDC_OPT_FIT_LARGER 2051
#define IDC_OPT_FIT_ALL 2052
#define IDC_OPT_BROWSER_LAST 2052
#define IDC_OPT_CATEGORIES 2053

// ---- Installation dialog "KaleoConfig" -------------------------------------
#define IDC_CFG_LIST 2000
#define IDC_CFG_ADD_ALL 2001
#define IDC_CFG_RESTORE_ALL 2002
#define IDC_CFG_BROWSE_VERB 2003
#define IDC_CFG_BY_NAME 2004
#define IDC_CFG_BY_EXTENSION 2005
#define IDC_CFG_DESKTOP_ICON 2006
#define IDC_CFG_PROGRAMS_MENU 2007
#define IDC_CFG_START_MENU 2008

// ---- About, formats and command-line help dialogs --------------------------
#define IDC_ABOUT_VERSION 1000
#define IDC_ABOUT_LIBRARY 1001
#define IDC_ABOUT_FORMATS 1002
#define IDC_HELP_LIST 2000
#define IDC_HELP_SORT_BY_ID 2001
#define IDC_HELP_COUNTS 2004

// ---- Save dialog template "2011" ---------------------------------------------
#define IDC_SAVE_OPTIONS 2010

// ---- Open dialog template "2000" -----------------------------------------------
#define IDC_OPEN_INFO_GROUP 2020
#define IDC_OPEN_INFO_NAME 2021
#define IDC_OPEN_INFO_SIZE 2022
#define IDC_OPEN_INFO_COLOURS 2023
#define IDC_OPEN_PREVIEW 2024
#define IDC_OPEN_THUMBNAIL 2025

// ---- Progress window "KaleoProgress" ---------------------------------------
#define IDC_PROGRESS_TEXT 2001
#define IDC_PROGRESS_BAR 2002

// ---- Operation dialogs of the image window (begin) -------------------------
#define IDS_USER_FILTER_ZERO 4230  // the user filter's divisor is 0
#define IDS_CURRENT_SIZE 4231      // "Image : %d x %d"
#define IDS_RESIZE_RANGE 4233      // "... entre %d et %d pixels."
#define IDS_OPEN_INFO_FORMAT 4234   // "Format : %s"
#define IDS_OPEN_INFO_SIZE 4235     // "Taille : %d x %d"
#define IDS_OPEN_INFO_COLOURS 4236  // "Couleurs : %s"
#define IDS_OPEN_TRUE_COLOUR 4237   // "Vraies couleurs"
#define IDS_OPEN_NOT_PICTURE 4238   // "Format inconnu"
#define IDS_ABOUT_FORMATS 4232     // "%d formats en lecture, %d en écriture."

// Value dialog "KaleoValue"
#define IDC_VALUE_SCROLL 2000
#define IDC_VALUE_MIN 2001
#define IDC_VALUE_MAX 2002
#define IDC_VALUE_CURRENT 2021
#define IDC_VALUE_AUTO 2022
#define IDC_VALUE_PREVIOUS 2023
#define IDC_VALUE_ZERO 2025

// Resize dialog "KaleoResize"
#define IDC_RESIZE_PRESET 2000
#define IDC_RESIZE_WIDTH 2001
#define IDC_RESIZE_WIDTH_SPIN 2002
#define IDC_RESIZE_HEIGHT 2003
#define IDC_RESIZE_HEIGHT_SPIN 2004
#define IDC_RESIZE_WIDTH_PERCENT 2005
#define IDC_RESIZE_WIDTH_PERCENT_SPIN 2006
#define IDC_RESIZE_HEIGHT_PERCENT 2007
#define IDC_RESIZE_HEIGHT_PERCENT_SPIN 2008
#define IDC_RESIZE_RATIO 2009
#define IDC_RESIZE_METHOD 2010
#define IDC_RESIZE_CURRENT 2011

// Canvas size dialog "KaleoCanvas"
#define IDC_CANVAS_WIDTH 2001
#define IDC_CANVAS_WIDTH_SPIN 2002
#define IDC_CANVAS_HEIGHT 2003
#define IDC_CANVAS_HEIGHT_SPIN 2004
#define IDC_CANVAS_RATIO 2009
#define IDC_CANVAS_CURRENT 2011

// Colour balance dialog "KaleoBalance": scroll bars and their values
#define IDC_BALANCE_RED 2000
#define IDC_BALANCE_RED_VALUE 2001
#define IDC_BALANCE_GREEN 2002
#define IDC_BALANCE_GREEN_VALUE 2003
#define IDC_BALANCE_BLUE 2004
#define IDC_BALANCE_BLUE_VALUE 2005
#define IDC_BALANCE_AUTO 2022
#define IDC_BALANCE_PREVIOUS 2023
#define IDC_BALANCE_ZERO 2025

// Filter size dialog "KaleoFilterSize": 3X3 ... 13X13
#define IDC_FILTER_SIZE_FIRST 2056
#define IDC_FILTER_SIZE_LAST 2061

// De-interlacing dialog "KaleoDeinterlace"
#define IDC_DEINTERLACE_EVEN 2000         // drop the even rows
#define IDC_DEINTERLACE_ODD 2001          // drop the odd rows
#define IDC_DEINTERLACE_DUPLICATE 2002
#define IDC_DEINTERLACE_INTERPOLATE 2003

// User filter dialog "KaleoUserFilter": 25 weights row by row
#define IDC_USER_WEIGHT_FIRST 2100
#define IDC_USER_WEIGHT_LAST 2124
#define IDC_USER_DIVISOR 2125
#define IDC_USER_BIAS 2126
#define IDC_USER_3X3 2127
#define IDC_USER_5X5 2128

// Waves dialog "KaleoWaves"
#define IDC_WAVES_LENGTH 2000
#define IDC_WAVES_LENGTH_VALUE 2001
#define IDC_WAVES_AMPLITUDE 2002
#define IDC_WAVES_AMPLITUDE_VALUE 2003
#define IDC_WAVES_PHASE 2004
#define IDC_WAVES_PHASE_VALUE 2005
#define IDC_WAVES_AUTO 2022

// Conversion choice dialog "KaleoConv"
#define IDC_CONV_TEXT 2000
#define IDC_CONV_BINARY_FIRST 2001        // "Tramé", "Floyd Steinberg", "Demi Teinte 45", "Demi Teinte 90"
#define IDC_CONV_BINARY_LAST 2004
#define IDC_CONV_GREY_FIRST 2005          // 4 ... 256 levels
#define IDC_CONV_GREY_LAST 2011
#define IDC_CONV_GREY_DITHER 2012
#define IDC_CONV_COLOUR_FIRST 2013        // 8 ... 256 colours
#define IDC_CONV_COLOUR_LAST 2019
#define IDC_CONV_COLOUR_DITHER 2020
#define IDC_CONV_TRUE_COLOUR 2021
#define IDC_CONV_BINARY_GROUP 2030
#define IDC_CONV_GREY_GROUP 2031
#define IDC_CONV_COLOUR_GROUP 2032
#define IDC_CONV_TRUE_GROUP 2033
// ---- Operation dialogs of the image window (end) ---------------------------

// ---- Browser (begin) ---------------------------------------------------------
#define CMD_NEW_FOLDER 256
#define IDC_BROWSE_TREE 2000
#define IDC_BROWSE_LIST 2001
#define IDS_HOVER_FILE 4400        // "%s, %d octets, %02d/%02d/%02d %02d:%02d:%02d"
#define IDS_HOVER_TRUE_COLOUR 4401
#define IDS_HOVER_COLOURS 4402
#define IDS_HOVER_PLANES 4403
#define IDS_BROWSE_COL_FIRST 4404  // "Nom" ... "Description" (4404-4409)
#define IDS_TYPE_FOLDER 4410
#define IDS_TYPE_UNKNOWN 4411
#define IDS_STATUS_SELECTED 4412
#define IDS_STATUS_FREE 4413
#define IDS_ATTRIBUTES_FAILED 4500
#define IDS_CANNOT_RENAME 4501
#define IDS_RENAME_OLD 4600
#define IDS_RENAME_NEW 4601
#define IDS_OP_CANNOT_OPEN_SOURCE 4700
#define IDS_OP_CANNOT_OPEN_DEST 4701
#define IDS_OP_READ_ERROR 4702
#define IDS_OP_WRITE_ERROR 4703
#define IDS_OP_SAME_FILE 4704
#define IDS_OP_DELETING 4705
#define IDS_OP_COPYING 4706
#define IDS_OP_MOVING 4707
#define IDS_OP_DELETE_FAILED 4708
#define IDS_DESCRIPT_WRITE_FAILED 4709
#define IDS_NEW_FOLDER_FAILED 4710
#define IDS_RENAME_CLASH 4711
// "KaleoOperation"
#define IDC_OP_FROM 2000
#define IDC_OP_TO 2001
#define IDC_OP_PROGRESS 2002
// "KaleoRename"
#define IDC_RENAME_TEMPLATE 2000
#define IDC_RENAME_START 2001
#define IDC_RENAME_STEP 2002
#define IDC_RENAME_LIST 2003
// "KaleoFileDesc"
#define IDC_DESC_NAME 2000
#define IDC_DESC_TEXT 2001
// "KaleoProp"
#define IDC_PROP_NAME 2000
#define IDC_PROP_TYPE 2001
#define IDC_PROP_FOLDER 2002
#define IDC_PROP_SIZE 2003
#define IDC_PROP_SHORT 2004
#define IDC_PROP_CREATED 2005
#define IDC_PROP_MODIFIED 2006
#define IDC_PROP_ACCESSED 2007
#define IDC_PROP_READ_ONLY 2008
#define IDC_PROP_ARCHIVE 2009
#define IDC_PROP_HIDDEN 2010
#define IDC_PROP_SYSTEM 2011
#define IDC_PROP_APPLY 2012
// "KaleoNewFolder"
#define IDC_NEW_FOLDER_NAME 2000
// ---- Browser (end) -----------------------------------------------------------

// ---- Slide show, printing, web page, capture (begin) -------------------------
// "KaleoSlideShow"
#define IDC_SLIDE_LIST 2000
#define IDC_SLIDE_ADD 2001
#define IDC_SLIDE_ADD_FOLDER 2002
#define IDC_SLIDE_REMOVE 2003
#define IDC_SLIDE_REMOVE_ALL 2004
#define IDC_SLIDE_USE_TIMER 2005
#define IDC_SLIDE_USE_KEYS 2006
#define IDC_SLIDE_LOOP 2007
#define IDC_SLIDE_SECONDS 2008
#define IDC_SLIDE_NORMAL_SIZE 2009
#define IDC_SLIDE_FIT_LARGER 2010
#define IDC_SLIDE_FIT_ALL 2011
#define IDC_SLIDE_RANDOM 2012
#define IDC_SLIDE_FULL_SCREEN 2013
#define IDC_SLIDE_CENTRE 2014
#define IDC_SLIDE_OPEN 2015
#define IDC_SLIDE_SAVE 2016
#define IDC_SLIDE_NO_TITLE 2017
#define IDC_SLIDE_NO_ERRORS 2018
#define IDC_SLIDE_HIDE_MOUSE 2019
#define IDC_SLIDE_VIEW_GROUP 2020
#define IDS_SLIDE_FILTER 4850          // "Slide files (*.sld)"
// "KaleoThumb"
#define IDC_THUMB_TITLE 2000
#define IDC_THUMB_COLUMNS 2002
#define IDC_THUMB_BORDER 2003
#define IDC_THUMB_WIDTH 2004
#define IDC_THUMB_HEIGHT 2005
#define IDC_THUMB_GIF 2006
#define IDC_THUMB_INTERLACED 2007
#define IDC_THUMB_JPEG 2008
#define IDC_THUMB_QUALITY_SPIN 2009
#define IDC_THUMB_QUALITY 2010
#define IDC_THUMB_SHOW_FIRST 2011       // 2011-2015 Display bits
#define IDC_THUMB_SHOW_LAST 2015
#define IDC_THUMB_SORT_FIRST 2016       // 2016-2020 Sort 0-4
#define IDC_THUMB_SORT_LAST 2020
#define IDC_THUMB_REVERSE 2021
#define IDC_THUMB_FOLDER 2022
#define IDC_THUMB_BROWSE 2023
#define IDC_THUMB_PROGRESSIVE 2024
#define IDC_THUMB_USE_ORIGINAL 2025
#define IDC_THUMB_BORDER_SPIN 2027
#define IDC_THUMB_COLUMNS_SPIN 2028
#define IDC_THUMB_QUALITY_LABEL 2029
#define IDS_HTML_STOP 4800
#define IDS_HTML_CANNOT_CREATE 4801
#define IDS_HTML_CREATING 4802
#define IDS_HTML_LOADING 4803
#define IDS_HTML_LOAD_FAILED 4804
#define IDS_HTML_COPYING 4805
#define IDS_HTML_COPY_FAILED 4806
#define IDS_HTML_RESIZING 4807
#define IDS_HTML_CONVERTING 4808
#define IDS_HTML_SAVING 4809
#define IDS_HTML_SAVE_FAILED 4810
#define IDS_HTML_NO_FOLDER 4811
// "KaleoPrint" and "KaleoPrintAbort"
#define IDC_PRINT_BEST 2000
#define IDC_PRINT_FIT_PAGE 2001
#define IDC_PRINT_SCALE 2002
#define IDC_PRINT_X_SCALE 2004
#define IDC_PRINT_Y_SCALE 2006
#define IDC_PRINT_CENTRE 2010
#define IDC_PRINT_ABORT_TEXT 2000
#define IDS_PRINT_NO_MEMORY 4900
#define IDS_PRINT_PROBLEM 4901
#define IDS_PRINT_PRINTING 4902
#define IDS_PRINT_BAND 4903
#define IDS_PRINT_SENDING 4904
// "KaleoCapture"
#define IDC_CAPTURE_DESKTOP 2000
#define IDC_CAPTURE_WINDOW 2001
#define IDC_CAPTURE_CLIENT 2002
#define IDC_CAPTURE_LIST 2003
// ---- Slide show, printing, web page, capture (end) ---------------------------
// ---- Batch conversions (begin) -----------------------------------------------
#define IDS_INPUT_MISSING 4044     // "Le fichier d'entrée manque !!"
#define IDS_OUTPUT_MISSING 4045    // "Le fichier de sortie manque !!"
#define IDS_BATCH_TOO_LONG 4960
#define IDS_BATCH_SAME_OUTPUT 4961
#define IDS_BATCH_REPLACES_INPUT 4962
#define IDS_BATCH_DONE 4963
#define IDS_OUTPUT_DIRECTORY 4964
// "KaleoMulConvert" and "KaleoSeqConvert" (shared numbers)
#define IDC_MUL_LIST 2000
#define IDC_SEQ_IN_FORMAT 2000
#define IDC_SEQ_IN_FOLDER 2001
#define IDC_SEQ_IN_PATTERN 2002
#define IDC_SEQ_IN_BROWSE 2003
#define IDC_BATCH_FORMAT 2004
#define IDC_BATCH_FOLDER 2005
#define IDC_SEQ_OUT_PATTERN 2006
#define IDC_BATCH_BROWSE 2007
#define IDC_SEQ_START 2008
#define IDC_SEQ_END 2009
#define IDC_SEQ_STEP 2010
#define IDC_BATCH_DELETE 2012
#define IDC_MUL_ADD 2013
#define IDC_MUL_ADD_FOLDER 2014
#define IDC_MUL_REMOVE 2015
#define IDC_MUL_REMOVE_ALL 2016
#define IDC_BATCH_SCRIPT 2021
#define IDC_BATCH_OPERATIONS 2022
#define IDC_BATCH_HIDE_ERRORS 2023
#define IDC_BATCH_OPTIONS 1999
// "KaleoOpConvert"
#define IDC_OPC_TABLE 2017
#define IDC_OPC_ADD 2018
#define IDC_OPC_REMOVE 2019
#define IDC_OPC_REMOVE_ALL 2020
#define IDC_OPC_JOBS 2033
#define IDC_OPC_BINARY_FIRST 2034     // "Tramé", "Floyd Steinberg", "Demi Teinte 45", "Demi Teinte 90"
#define IDC_OPC_COUNT_FIRST 2038      // 4, 8, 16, 32, 64, 128, 216, 256
#define IDC_OPC_DITHER 2046
#define IDC_OPC_ROW_FIRST 2047        // three rows: label, scroll bar, value
#define IDC_OPC_SIZE_FIRST 2056       // "3X3" ... "13X13"
#define IDC_OPC_SWAP_FIRST 2062       // "RGB->RBG" ... "RGB->GBR"
#define IDC_OPC_WIDTH_LABEL 2067
#define IDC_OPC_WIDTH 2068
#define IDC_OPC_HEIGHT_LABEL 2070
#define IDC_OPC_HEIGHT 2071
#define IDC_OPC_WIDTH_PERCENT 2073
#define IDC_OPC_HEIGHT_PERCENT 2076
#define IDC_OPC_RATIO 2079
#define IDC_OPC_METHOD_LABEL 2080
#define IDC_OPC_METHOD 2081
#define IDC_OPC_ONLY_SMALLER 2082
#define IDC_OPC_ONLY_LARGER 2083
#define IDC_OPC_PIXELS 2084
#define IDC_OPC_PERCENT 2085
#define IDC_OPC_X_LABEL 2086
#define IDC_OPC_X 2087
#define IDC_OPC_Y_LABEL 2088
#define IDC_OPC_Y 2089
#define IDC_OPC_RWIDTH_LABEL 2090
#define IDC_OPC_RWIDTH 2091
#define IDC_OPC_RHEIGHT_LABEL 2092
#define IDC_OPC_RHEIGHT 2093
#define IDC_OPC_GROUP 2094
// ---- Batch conversions (end) -------------------------------------------------

#endif

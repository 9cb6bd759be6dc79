"""Writes the tables that the library must read as this reader wrote them.

usage: dbf_make.py FOLDER
Makes plain.dbf (dBASE III) and vfp.dbf (Visual FoxPro, every field nullable).
"""
import datetime
import os
import sys

import dbf

folder = sys.argv[1]

plain = dbf.Table(os.path.join(folder, "plain.dbf"),
                  "name C(12); amount N(9,3); whole N(6,0); born D; ok L", dbf_type="db3")
plain.open(dbf.READ_WRITE)
plain.append(("Zoe", 1234.5, -17, datetime.date(1999, 12, 31), True))
plain.append(("Max Power", -0.125, 0, datetime.date(2024, 2, 29), False))
plain.close()

vfp = dbf.Table(os.path.join(folder, "vfp.dbf"),
                "name C(8) NULL; cnt I NULL; stamp T NULL; money Y NULL; ratio B NULL",
                dbf_type="vfp")
vfp.open(dbf.READ_WRITE)
vfp.append(("Ann", -7, datetime.datetime(2024, 3, 15, 10, 20, 30), 12.5, 3.25))
vfp.append(("Bob", dbf.Null, dbf.Null, dbf.Null, dbf.Null))
vfp.close()

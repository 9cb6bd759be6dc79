"""Prints the records of a dBASE table as read by an independent reader.

usage: dbf_dump.py dbf|dbfread TABLE
One line per record, values separated by '|', in a fixed text form:
NULL, T/F, YYYY-MM-DD, YYYY-MM-DD HH:MM:SS, numbers as Python writes them
(currency with four decimals), text without trailing blanks.
"""
import datetime
import decimal
import sys


def text(value):
    if value is None:
        return "NULL"
    if isinstance(value, bool):
        return "T" if value else "F"
    if isinstance(value, datetime.datetime):
        return value.strftime("%Y-%m-%d %H:%M:%S")
    if isinstance(value, datetime.date):
        return value.strftime("%Y-%m-%d")
    if isinstance(value, decimal.Decimal):
        return "%.4f" % value
    if isinstance(value, (bytes, bytearray)):
        return value.hex()
    if isinstance(value, str):
        return value.rstrip()
    return repr(value)


def main():
    reader, path = sys.argv[1], sys.argv[2]
    if reader == "dbf":
        import dbf

        table = dbf.Table(path)
        table.open(dbf.READ_ONLY)
        for record in table:
            values = []
            for value in record:
                values.append("NULL" if value is None or value is dbf.Null else text(value))
            print("|".join(values))
        table.close()
    else:
        import dbfread

        for record in dbfread.DBF(path, ignore_missing_memofile=True, char_decode_errors="replace"):
            print("|".join(text(v) for k, v in record.items() if k.upper() != "_NULLFLAGS"))


main()

#!/usr/bin/env python3
"""Writes sales.csv, the bundled sample data (deterministic; run once, the CSV is committed)."""
import csv
import datetime
import math
import random

random.seed(20261208)
REGIONS = ["North", "South", "East", "West", "Central"]
rows = []
start = datetime.date(2023, 1, 2)
for i in range(1, 301):
    region = REGIONS[(i * 7) % 5]
    date = start + datetime.timedelta(days=(i * 3) % 700)
    advert = round(random.uniform(2.0, 40.0), 2)
    price = round(random.uniform(8.0, 25.0), 2)
    stores = random.randint(3, 60)
    competitors = random.randint(0, 12)
    income = round(random.gauss(52000, 9000), 0)
    temp = round(random.gauss(17.0, 6.0), 1)
    units = int(max(20, 40 * math.log(advert) - 9 * price + 6 * stores - 5 * competitors
                    + 0.002 * income + random.gauss(0, 25) + 150))
    sales = round(units * price, 2)
    profit = round(sales * 0.32 - 4.5 * advert * 10 - 30 * stores / 10 + random.gauss(0, 120), 2)
    rec = {"ID": i, "REGION": region, "SALEDATE": date.isoformat(), "ADVERT": advert,
           "PRICE": price, "UNITS": units, "STORES": stores, "COMPETITORS": competitors,
           "INCOME": income, "TEMP": temp, "SALES": sales, "PROFIT": profit}
    # A few gaps, as real data have them.
    if i % 37 == 0:
        rec["ADVERT"] = ""
    if i % 53 == 0:
        rec["PROFIT"] = ""
    if i % 71 == 0:
        rec["TEMP"] = ""
    if i % 89 == 0:
        rec["REGION"] = ""
    rows.append(rec)

with open("sales.csv", "w", newline="") as f:
    w = csv.DictWriter(f, fieldnames=list(rows[0].keys()), lineterminator="\n")
    w.writeheader()
    w.writerows(rows)
